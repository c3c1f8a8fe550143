// The lines of a hash run: every test frame's MD5 (--report=md5), or each frame whose MD5
// differs from the hash a list gives for it (--ref-md5), and the MD5 of every byte read.
#ifndef FRAMECMP_REPORT_HASH_LINES_H_
#define FRAMECMP_REPORT_HASH_LINES_H_

#include <cstddef>
#include <span>

#include "input/frame_hash.h"
#include "input/pair_reader.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"

namespace framecmp {

class HashLines final : public PairMetric {
 public:
  // With `every_frame`, each frame's hash is a line; else a pair whose listed hash
  // (pair.ref, 16 bytes) differs from its frame's is. Keeps a reference to `out`.
  HashLines(bool every_frame, OutputSink& out) : every_frame_(every_frame), out_(out) {}
  // False when libcrypto could not set the hashes up (no memory).
  bool ok() const { return frame_hash_.ok() && all_hash_.ok(); }
  // Hashes the test frame and makes its line, if it has one; a differing frame is one
  // sample beyond the tolerance.
  PairVerdict measure(const FramePair& pair) override;
  bool publish() override { return length_ == 0 || out_.write(line_, length_); }
  void discard() override { length_ = 0; }
  // Adds the bytes of a partial last frame to the hash of everything read.
  void add_tail(std::span<const std::uint8_t> tail) { all_hash_.update(tail.data(), tail.size()); }
  // The MD5 of every byte read; once, after the last frame.
  Md5Digest all_read() { return all_hash_.finish(); }

 private:
  bool every_frame_;
  OutputSink& out_;
  Md5 frame_hash_;
  Md5 all_hash_;
  char line_[128];
  std::size_t length_ = 0;  // of the last pair's line; 0: none
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_HASH_LINES_H_
