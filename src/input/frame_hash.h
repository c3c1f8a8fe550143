// Frame hashes for conformance suites: the MD5 of a frame's bytes as stored, through
// OpenSSL's libcrypto, and the hash lists that suites ship instead of reference video (one
// MD5 a frame, or one of the whole output), read a line at a time.
#ifndef FRAMECMP_INPUT_FRAME_HASH_H_
#define FRAMECMP_INPUT_FRAME_HASH_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace framecmp {

using Md5Digest = std::array<std::uint8_t, 16>;

// An MD5 computation, reused for every frame without allocating again.
class Md5 {
 public:
  Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  ~Md5();
  // False when libcrypto could not set it up (no memory).
  bool ok() const { return context_ != nullptr; }
  // Starts a new hash; precondition: ok().
  void reset();
  void update(const std::uint8_t* bytes, std::size_t size);
  // The hash of everything since reset().
  Md5Digest finish();

 private:
  void* context_;  // EVP_MD_CTX, kept out of this header
};

// The 32 lowercase hexadecimal digits of `digest`.
std::string md5_hex(const Md5Digest& digest);

// The 32 lowercase hex digits of `digest` at `out` (32 bytes at least); returns their end.
char* put_md5_hex(char* out, const Md5Digest& digest);

// A hash list read a line at a time, so that memory stays the same however many frames it
// names. Every non-empty line starts with 32 hexadecimal digits (either case); the rest
// of the line is ignored, as in md5sum's output and libvpx's and libaom's .md5 files. One
// line is the hash of the whole stream; more are one a frame. A later line named "all"
// (the last line of framecmp's own --report=md5) names no frame and is passed over.
class HashList {
 public:
  // The longest line a list may hold: the digits, the blanks after them (two in md5sum's
  // output) and a name of up to 4096 bytes, with a carriage return.
  static constexpr std::size_t kMaxHashLine = 32 + 8 + 4096 + 1;

  HashList() = default;
  HashList(const HashList&) = delete;
  HashList& operator=(const HashList&) = delete;
  ~HashList();
  // Opens the list and reads its first two hashes, to tell its kind; false with the
  // reason in problem() when it cannot be opened or is no hash list.
  bool open(const char* path);
  bool whole_stream() const { return whole_stream_; }
  enum class Next : std::uint8_t { kHash, kEnd, kBad };
  // The next hash into `digest`; kBad (with problem()) for a line that is no hash or a
  // read that failed.
  Next next(Md5Digest& digest);
  const std::string& problem() const { return problem_; }

 private:
  Next read_hash(Md5Digest& digest);
  // Reads the next line into line_ (ended_ at the end of the list); false with problem()
  // for a read that failed or a line that cannot be a hash line.
  bool read_line();
  std::string not_a_hash_line() const;

  std::FILE* file_ = nullptr;
  std::string line_;                  // the line being read; its capacity is kept
  std::int64_t line_number_ = 0;      // 1-based, of the last line read
  std::array<Md5Digest, 2> ahead_{};  // hashes read to tell the kind, not yet handed out
  int ahead_count_ = 0;
  int ahead_at_ = 0;
  bool ended_ = false;
  bool whole_stream_ = false;
  std::string problem_;
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_FRAME_HASH_H_
