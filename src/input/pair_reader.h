// The pair reader: the next whole frame of both sequences at once, the bytes they share
// compared while they pass, read by two threads where it pays.
#ifndef FRAMECMP_INPUT_PAIR_READER_H_
#define FRAMECMP_INPUT_PAIR_READER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/worker_pool.h"
#include "input/frame_buffers.h"
#include "input/sequence_input.h"

namespace framecmp {

// One whole frame pair as the pair reader hands it out: read-only, valid until the next
// pair is asked for.
struct FramePair {
  std::int64_t index = 0;              // the test file's own frame index (0-based)
  std::span<const std::uint8_t> test;  // the test frame, frame_size bytes
  std::span<const std::uint8_t> ref;   // the reference frame, alike
  std::size_t equal_prefix = 0;        // leading bytes known equal in both (a lower bound)
};

// What the last reads of a pair brought, whole or not.
struct PairRead {
  ReadResult test;
  ReadResult ref;
  std::size_t equal_prefix = 0;             // as in FramePair
  const std::uint8_t* test_data = nullptr;  // the test frame's bytes: in place, or the buffer
  const std::uint8_t* ref_data = nullptr;   // the reference frame's, alike
};

// Bytes read from each sequence in turn while a frame pair is read.
inline constexpr std::size_t kReadPiece = std::size_t{256} << 10;

// Hands out the frame pairs of two sequences one at a time, hiding how their bytes got
// there. A source that can hand its frame out in place (a mapped regular file) does so;
// any other is read into its buffer in turns of kReadPiece bytes, test first, so that each
// piece of the pair is compared while it is still in the cache: equal frames then cost
// little more than the reads. A sequence that ends or fails is not read further; the other
// still is, to its frame's end.
class PairReader {
 public:
  // `buffers` hold at least `frame_size` (> 0) bytes each; `first_index` is the test file's
  // index of the next frame. Keeps references to all three.
  PairReader(FrameSource& test, FrameSource& ref, FrameBuffers& buffers, std::size_t frame_size,
             std::int64_t first_index);
  // The next frame pair: true with both frames whole in `pair`; false at the end of either
  // sequence or after a failed read, with last() telling what the reads brought.
  bool next(FramePair& pair);
  const PairRead& last() const { return last_; }
  std::size_t frame_size() const { return frame_size_; }
  // Lets `workers` share the search for equal pieces of two frames handed out in place,
  // which decides an identical pair. Keeps a reference.
  void share_search(WorkerPool& workers);

  // Which sequence's bytes, handed out in place, could not be read after all (its file
  // shrank while mapped): whatever was made of them since the last pair is void.
  enum class Lost : std::uint8_t { kNone, kTest, kRef };
  Lost lost() const;

 private:
  FrameSource& test_;
  FrameSource& ref_;
  FrameBuffers& buffers_;
  std::size_t frame_size_;
  std::int64_t next_index_;
  PairRead last_;
  WorkerPool* workers_ = nullptr;          // null: the search runs on the caller's thread
  std::vector<std::uint8_t> piece_equal_;  // one a kReadPiece piece, set by the workers
  // Compares two whole frames in place, every piece on any worker; the equal prefix.
  std::size_t shared_equal_prefix(const std::uint8_t* test, const std::uint8_t* ref);
  // Reads a frame of `source` into `buffer` a piece at a time until it is whole or the
  // input ends, adding what each read brought to `total`.
  void read_whole(FrameSource& source, std::uint8_t* buffer, ReadResult& total) const;
  // Reads both frames whole into their buffers, one thread a file.
  void read_both_at_once(PairRead& read);
  // Reads the frames still `open` piece by piece; while `equal_so_far`, compares each
  // piece both frames hold and books read.equal_prefix.
  void read_in_pieces(PairRead& read, std::array<bool, 2> open, bool equal_so_far);
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_PAIR_READER_H_
