#include "input/hash_pair_reader.h"

namespace framecmp {

HashPairReader::HashPairReader(FrameSource& test, HashList* const list, std::uint8_t* const buffer,
                               const std::size_t frame_size, const std::int64_t first_index)
    : test_(test),
      list_(list),
      buffer_(buffer),
      frame_size_(frame_size),
      next_index_(first_index) {}

bool HashPairReader::next(FramePair& pair) {
  const std::uint8_t* frame = test_.view_frame(frame_size_, read_);
  if (frame == nullptr) {
    read_ = test_.read_frame(buffer_, frame_size_);
    frame = buffer_;
  }
  if (read_.failed || test_.view_lost()) {
    read_failed_ = true;
    return false;
  }
  // Each whole frame takes the list's next hash; so does a partial one, which tells
  // whether the list holds more frames than the test.
  entry_ = list_ != nullptr ? list_->next(listed_) : HashList::Next::kEnd;
  if (entry_ == HashList::Next::kBad) return false;
  if (read_.bytes < frame_size_) {
    tail_ = {frame, read_.bytes};
    return false;
  }
  if (list_ != nullptr && entry_ == HashList::Next::kEnd) return false;
  pair.index = next_index_++;
  pair.test = {frame, frame_size_};
  pair.ref =
      list_ != nullptr ? std::span<const std::uint8_t>(listed_) : std::span<const std::uint8_t>();
  pair.equal_prefix = 0;
  return true;
}

}  // namespace framecmp
