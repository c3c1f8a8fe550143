#include "report/progress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace framecmp {
namespace {

constexpr std::int64_t kSecond = 1000000000;
constexpr std::int64_t kFirstAfter = kSecond;    // a short run shows nothing
constexpr std::int64_t kInterval = kSecond / 4;  // at most four updates a second

std::int64_t monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * kSecond + now.tv_nsec;
}

void write_all(const int fd, const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, text, size);
    if (put <= 0) return;  // a lost terminal only loses the progress line
    text += put;
    size -= static_cast<std::size_t>(put);
  }
}

}  // namespace

ProgressLine::ProgressLine(const int fd, const std::int64_t total, const std::int64_t pair_bytes,
                           FrameObserver* const next)
    : fd_(fd),
      total_(total),
      pair_bytes_(pair_bytes),
      next_(next),
      start_ns_(monotonic_ns()),
      next_update_ns_(start_ns_ + kFirstAfter) {}

void ProgressLine::frame(const std::int64_t index, const std::uint8_t* test,
                         const std::uint8_t* ref, const bool differs) {
  ++frames_;
  if (next_ != nullptr) next_->frame(index, test, ref, differs);
  const std::int64_t now = monotonic_ns();
  if (now >= next_update_ns_) show(now);
}

void ProgressLine::show(const std::int64_t now_ns) {
  next_update_ns_ = now_ns + kInterval;
  const double seconds = static_cast<double>(now_ns - start_ns_) / kSecond;
  const double rate = static_cast<double>(frames_) / seconds;
  const double megabytes = rate * static_cast<double>(pair_bytes_) / 1e6;
  char of[32] = "";
  if (total_ >= 0) std::snprintf(of, sizeof of, " of %" PRId64, total_);
  char line[160];
  // "\r" and erase to the end of the line: the line is rewritten where it stands.
  const int length =
      std::snprintf(line, sizeof line, "\rframe %" PRId64 "%s, %.1f frames/s, %.1f MB/s\x1b[K",
                    frames_, of, rate, megabytes);
  if (length > 0) write_all(fd_, line, static_cast<std::size_t>(length));
  shown_ = true;
}

void ProgressLine::erase() {
  if (!shown_) return;
  write_all(fd_, "\r\x1b[K", 4);
  shown_ = false;
}

bool same_terminal(const int a, const int b) {
  struct stat first {};
  struct stat second {};
  return ::isatty(a) != 0 && ::isatty(b) != 0 && ::fstat(a, &first) == 0 &&
         ::fstat(b, &second) == 0 && first.st_rdev == second.st_rdev;
}

}  // namespace framecmp
