// Frame pairs of a test sequence and a hash list: each whole test frame stands beside the
// list's next hash where a reference frame would, so that a hash run goes through the same
// pair loop as any comparison.
#ifndef FRAMECMP_INPUT_HASH_PAIR_READER_H_
#define FRAMECMP_INPUT_HASH_PAIR_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "input/frame_hash.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"

namespace framecmp {

class HashPairReader {
 public:
  // `buffer` holds `frame_size` (> 0) bytes; `list` is a per-frame list, or null (the
  // test alone: no hash beside its frames); `first_index` is the test file's index of the
  // next frame. Keeps references to all of them.
  HashPairReader(FrameSource& test, HashList* list, std::uint8_t* buffer, std::size_t frame_size,
                 std::int64_t first_index);
  // The next whole test frame in pair.test and the list's next hash (16 bytes) in pair.ref,
  // or nothing there without a list; false at the end of either, after a failed read or
  // at a list line that is no hash, with the accessors below telling which.
  bool next(FramePair& pair);

  bool read_failed() const { return read_failed_; }
  bool bad_list() const { return entry_ == HashList::Next::kBad; }
  bool per_frame() const { return list_ != nullptr; }
  // The list's answer for the last frame read (kEnd without a list).
  HashList::Next entry() const { return entry_; }
  // The last read of the test: short of a frame at its end, whole where the list ended
  // first.
  const ReadResult& last() const { return read_; }
  std::size_t frame_size() const { return frame_size_; }
  // The bytes of a partial last frame, empty when there is none.
  std::span<const std::uint8_t> tail() const { return tail_; }
  // True when bytes of a mapped test could not be read after all (its file shrank).
  bool lost() const { return test_.view_lost(); }

 private:
  FrameSource& test_;
  HashList* list_;
  std::uint8_t* buffer_;
  std::size_t frame_size_;
  std::int64_t next_index_;
  ReadResult read_;
  HashList::Next entry_ = HashList::Next::kEnd;
  Md5Digest listed_{};
  std::span<const std::uint8_t> tail_;
  bool read_failed_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_HASH_PAIR_READER_H_
