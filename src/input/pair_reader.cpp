#include "input/pair_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace framecmp {

PairReader::PairReader(FrameSource& test, FrameSource& ref, FrameBuffers& buffers,
                       const std::size_t frame_size, const std::int64_t first_index)
    : test_(test),
      ref_(ref),
      buffers_(buffers),
      frame_size_(frame_size),
      next_index_(first_index) {}

PairReader::Lost PairReader::lost() const {
  if (test_.view_lost()) return Lost::kTest;
  if (ref_.view_lost()) return Lost::kRef;
  return Lost::kNone;
}

void PairReader::share_search(WorkerPool& workers) {
  if (workers.threads() < 2) return;
  workers_ = &workers;
  piece_equal_.assign((frame_size_ + kReadPiece - 1) / kReadPiece, 0);
}

std::size_t PairReader::shared_equal_prefix(const std::uint8_t* const test,
                                            const std::uint8_t* const ref) {
  auto compare_piece = [&](const std::size_t i) {
    const std::size_t at = i * kReadPiece;
    piece_equal_[i] = std::memcmp(test + at, ref + at, std::min(kReadPiece, frame_size_ - at)) == 0;
  };
  workers_->run(piece_equal_.size(), compare_piece);
  const auto first_unequal = std::find(piece_equal_.begin(), piece_equal_.end(), 0);
  return std::min(frame_size_,
                  static_cast<std::size_t>(first_unequal - piece_equal_.begin()) * kReadPiece);
}

namespace {

// Reads `piece` bytes of `source` into `buffer` at `at`, adding what came to `total`;
// true when the piece came whole.
bool read_piece(FrameSource& source, std::uint8_t* const buffer, const std::size_t at,
                const std::size_t piece, ReadResult& total) {
  const ReadResult got = source.read_frame(buffer + at, piece);
  total.bytes += got.bytes;
  total.failed = got.failed;
  total.frame_begun = total.frame_begun || got.frame_begun;
  return got.bytes == piece;
}

}  // namespace

void PairReader::read_whole(FrameSource& source, std::uint8_t* const buffer,
                            ReadResult& total) const {
  for (std::size_t at = 0; at < frame_size_; at += kReadPiece) {
    if (!read_piece(source, buffer, at, std::min(kReadPiece, frame_size_ - at), total)) return;
  }
}

void PairReader::read_both_at_once(PairRead& read) {
  // Two threads copy at once, one a file: a read is a copy, and one core alone does not
  // reach the memory's bandwidth.
  std::uint8_t* const buffers[] = {buffers_.test.data(), buffers_.ref.data()};
  auto read_one = [&](const std::size_t i) {
    read_whole(i == 0 ? test_ : ref_, buffers[i], i == 0 ? read.test : read.ref);
  };
  workers_->run(2, read_one);
}

void PairReader::read_in_pieces(PairRead& read, std::array<bool, 2> open, bool equal_so_far) {
  std::uint8_t* const test_buffer = buffers_.test.data();
  std::uint8_t* const ref_buffer = buffers_.ref.data();
  for (std::size_t at = 0; at < frame_size_; at += kReadPiece) {
    const std::size_t piece = std::min(kReadPiece, frame_size_ - at);
    if (open[0]) open[0] = read_piece(test_, test_buffer, at, piece, read.test);
    if (open[1]) open[1] = read_piece(ref_, ref_buffer, at, piece, read.ref);
    // Pieces that both frames hold whole, compared while they are in the cache.
    equal_so_far = equal_so_far && read.test.bytes >= at + piece && read.ref.bytes >= at + piece &&
                   std::memcmp(read.test_data + at, read.ref_data + at, piece) == 0;
    if (equal_so_far) read.equal_prefix = at + piece;
    if (!equal_so_far && !open[0] && !open[1]) break;
  }
}

bool PairReader::next(FramePair& pair) {
  PairRead& read = last_;
  read = {};
  read.test_data = test_.view_frame(frame_size_, read.test);
  read.ref_data = ref_.view_frame(frame_size_, read.ref);
  // A frame that cannot be viewed in place is still to be read, into its buffer.
  std::array<bool, 2> open = {read.test_data == nullptr, read.ref_data == nullptr};
  if (open[0]) read.test_data = buffers_.test.data();
  if (open[1]) read.ref_data = buffers_.ref.data();
  if (workers_ != nullptr && open[0] && open[1]) {
    read_both_at_once(read);
    open = {false, false};
  }
  bool equal_so_far = true;
  if (workers_ != nullptr && !open[0] && !open[1] && read.test.bytes == frame_size_ &&
      read.ref.bytes == frame_size_) {
    read.equal_prefix = shared_equal_prefix(read.test_data, read.ref_data);
    equal_so_far = false;  // decided: the pieces are not compared again
  }
  read_in_pieces(read, open, equal_so_far);
  if (read.test.bytes != frame_size_ || read.ref.bytes != frame_size_) return false;
  pair.index = next_index_++;
  pair.test = {read.test_data, frame_size_};
  pair.ref = {read.ref_data, frame_size_};
  pair.equal_prefix = read.equal_prefix;
  return true;
}

}  // namespace framecmp
