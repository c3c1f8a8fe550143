#include "report/hash_lines.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace framecmp {

PairVerdict HashLines::measure(const FramePair& pair) {
  frame_hash_.reset();
  frame_hash_.update(pair.test.data(), pair.test.size());
  all_hash_.update(pair.test.data(), pair.test.size());
  const Md5Digest digest = frame_hash_.finish();
  length_ = 0;
  PairVerdict verdict;
  if (every_frame_) {
    char* end = put_md5_hex(line_, digest);
    end += std::snprintf(end, 40, "  %" PRId64 "\n", pair.index);
    length_ = static_cast<std::size_t>(end - line_);
    return verdict;
  }
  Md5Digest listed{};
  if (pair.ref.size() != listed.size()) return verdict;
  std::copy(pair.ref.begin(), pair.ref.end(), listed.begin());
  if (digest == listed) return verdict;
  verdict.beyond = 1;
  char* end = line_ + std::snprintf(line_, 40, "FRM=%4" PRId64 " MD5 test=", pair.index);
  end = put_md5_hex(end, digest);
  std::memcpy(end, " != ref=", 8);
  end = put_md5_hex(end + 8, listed);
  *end++ = '\n';
  length_ = static_cast<std::size_t>(end - line_);
  return verdict;
}

}  // namespace framecmp
