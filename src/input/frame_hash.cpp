#include "input/frame_hash.h"

#include <openssl/evp.h>

namespace framecmp {
namespace {

int hex_value(const char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool starts_with_md5(const std::string& line) {
  if (line.size() < 32) return false;
  for (std::size_t i = 0; i < 32; ++i) {
    if (hex_value(line[i]) < 0) return false;
  }
  return true;
}

}  // namespace

Md5::Md5() : context_(EVP_MD_CTX_new()) {
  if (context_ != nullptr) reset();
}

Md5::~Md5() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

void Md5::reset() {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_md5(), nullptr);
}

void Md5::update(const std::uint8_t* const bytes, const std::size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes, size);
}

Md5Digest Md5::finish() {
  Md5Digest digest{};
  unsigned int size = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest.data(), &size);
  return digest;
}

char* put_md5_hex(char* out, const Md5Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const std::uint8_t byte : digest) {
    *out++ = kDigits[byte >> 4];
    *out++ = kDigits[byte & 15];
  }
  return out;
}

std::string md5_hex(const Md5Digest& digest) {
  char text[32];
  return {text, put_md5_hex(text, digest)};
}

HashList::~HashList() {
  if (file_ != nullptr) std::fclose(file_);
}

bool HashList::open(const char* const path) {
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) {
    problem_ = "it cannot be opened";
    return false;
  }
  for (; ahead_count_ < 2; ++ahead_count_) {
    const Next got = read_hash(ahead_[static_cast<std::size_t>(ahead_count_)]);
    if (got == Next::kBad) return false;
    if (got == Next::kEnd) break;
  }
  if (ahead_count_ == 0) {
    problem_ = "it holds no hash";
    return false;
  }
  whole_stream_ = ahead_count_ == 1;
  return true;
}

HashList::Next HashList::next(Md5Digest& digest) {
  if (ahead_at_ < ahead_count_) {
    digest = ahead_[static_cast<std::size_t>(ahead_at_++)];
    return Next::kHash;
  }
  return read_hash(digest);
}

bool HashList::read_line() {
  line_.clear();
  int c = 0;
  while ((c = std::fgetc(file_)) != EOF && c != '\n') {
    // Past the digits the line must stay within the longest hash line; a line that cannot
    // be one is refused where it stands, so that an endless one takes no memory.
    if (line_.size() == kMaxHashLine || (line_.size() == 32 && !starts_with_md5(line_))) {
      ++line_number_;
      problem_ = line_.size() == kMaxHashLine
                     ? "line " + std::to_string(line_number_) + " is longer than " +
                           std::to_string(kMaxHashLine) + " bytes"
                     : not_a_hash_line();
      return false;
    }
    line_ += static_cast<char>(c);
  }
  if (c == EOF && std::ferror(file_) != 0) {
    problem_ = "it cannot be read";
    return false;
  }
  ended_ = c == EOF && line_.empty();
  if (!ended_) ++line_number_;
  return true;
}

std::string HashList::not_a_hash_line() const {
  return "line " + std::to_string(line_number_) +
         " does not start with an MD5 of 32 hexadecimal digits";
}

HashList::Next HashList::read_hash(Md5Digest& digest) {
  for (;;) {
    if (!read_line()) return Next::kBad;
    if (ended_) return Next::kEnd;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.empty()) continue;
    bool hex = starts_with_md5(line_);
    // 32 digits and no 33rd: a longer run of digits is some other hash.
    if (hex && line_.size() > 32 && hex_value(line_[32]) >= 0) hex = false;
    if (!hex) {
      problem_ = not_a_hash_line();
      return Next::kBad;
    }
    // framecmp's own --report=md5 ends with the hash of all frames: not a frame's.
    if (ahead_count_ + ahead_at_ > 0 || line_number_ > 1) {
      const std::size_t name = line_.find_first_not_of(" \t*", 32);
      if (name != std::string::npos && line_.compare(name, std::string::npos, "all") == 0) continue;
    }
    for (std::size_t i = 0; i < 16; ++i) {
      digest[i] =
          static_cast<std::uint8_t>(hex_value(line_[2 * i]) << 4 | hex_value(line_[2 * i + 1]));
    }
    return Next::kHash;
  }
}

}  // namespace framecmp
