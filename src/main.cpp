// framecmp: compares a test sequence with a reference sequence, both raw planar 8-bit
// 4:2:0 files, and prints a line for every sample that differs.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <utility>

#include "command_line.h"
#include "frame_geometry.h"
#include "sequence_compare.h"

namespace framecmp {
namespace {

// Report lines are gathered into blocks of this size before they reach standard output.
constexpr std::size_t kReportBufferSize = std::size_t{1} << 20;

// A frame buffer mapped straight from the kernel at a 2 MiB boundary and marked for
// transparent huge pages, so that filling it costs a page fault per 2 MiB instead of one
// per 4 KiB. The mapping ends with the buffer: a huge page is never taken for its tail,
// so memory use stays at the frame size.
class FrameBuffer {
 public:
  explicit FrameBuffer(const std::size_t size) : size_(round_up(size, kPageSize)) {
    // Map one alignment unit more, then give back what lies outside the aligned part.
    const std::size_t mapped = size_ + kHugePageSize;
    void* const base =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return;
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t aligned = round_up(start, kHugePageSize);
    if (aligned > start) ::munmap(base, aligned - start);
    if (const std::uintptr_t end = start + mapped; end > aligned + size_) {
      ::munmap(reinterpret_cast<void*>(aligned + size_), end - aligned - size_);
    }
    data_ = reinterpret_cast<std::uint8_t*>(aligned);
    // Only hints: without them the buffer works the same, only a little slower.
    ::madvise(data_, size_, MADV_HUGEPAGE);
    // The tail past the last whole huge page would take a fault per 4 KiB; one call faults
    // it in instead. It is under 2 MiB, so nothing large is committed before it is needed.
    const std::size_t body = size_ / kHugePageSize * kHugePageSize;
    if (body < size_) ::madvise(data_ + body, size_ - body, MADV_POPULATE_WRITE);
  }
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;
  ~FrameBuffer() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  // nullptr when the memory could not be obtained.
  std::uint8_t* data() const { return data_; }

 private:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kHugePageSize = std::size_t{2} << 20;
  static constexpr std::size_t round_up(std::size_t value, std::size_t unit) {
    return (value + unit - 1) / unit * unit;
  }

  std::size_t size_;              // mapped bytes, a whole number of pages
  std::uint8_t* data_ = nullptr;  // 2 MiB aligned, or nullptr
};

// An open sequence's descriptor, closed at the end of the run unless it is standard input,
// which the process does not own.
class FileDescriptor {
 public:
  FileDescriptor(int fd, bool owned) : fd_(fd), owned_(owned) {}
  FileDescriptor(FileDescriptor&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0 && owned_) ::close(fd_);
  }
  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }

 private:
  int fd_;      // -1 when nothing is open
  bool owned_;  // false for standard input
};

// The path that names standard input, as for cmp and most filters.
bool is_standard_input(const char* path) {
  return std::strcmp(path, "-") == 0;
}

// Opens a sequence for reading. "-" is standard input while `standard_input_free` (only
// one sequence can read it). A directory opens under POSIX but cannot be read as a
// sequence, so it counts as a file that cannot be opened. Not open on failure.
FileDescriptor open_sequence(const char* path, const bool standard_input_free) {
  const bool from_stdin = is_standard_input(path);
  if (from_stdin && !standard_input_free) return {-1, false};
  FileDescriptor file = from_stdin ? FileDescriptor(STDIN_FILENO, false)
                                   : FileDescriptor(::open(path, O_RDONLY | O_CLOEXEC), true);
  if (!file.is_open()) return file;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || S_ISDIR(status.st_mode)) return {-1, false};
  // The file is read once from front to back; a larger read-ahead window pays off.
  // (On a pipe this fails harmlessly.)
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
}

int report_open_failure(const char* path) {
  std::fprintf(stderr, "\nCannot open file \"%s\"!\n\n", path);
  return 1;
}

// Flushes standard output and tells whether everything written to it arrived.
bool finish_standard_output() {
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && std::ferror(stdout) == 0;
}

void write_summary(const RunSettings& settings, const ComparisonOutcome& outcome) {
  // The byte counts of the last reads tell which file ran out first; equal counts mean
  // both ended together, whole frame or not.
  if (outcome.test_bytes == outcome.ref_bytes) {
    std::fprintf(stderr, "\nFiles \"%s\" and \"%s\" are identical (%" PRId64 " frames)!\n\n",
                 settings.test_path, settings.ref_path, outcome.frames_compared);
    return;
  }
  const bool test_shorter = outcome.test_bytes < outcome.ref_bytes;
  std::fprintf(stderr, "\nFile \"%s\" is shorter (%" PRId64 " frames) than file \"%s\"!\n\n",
               test_shorter ? settings.test_path : settings.ref_path, outcome.frames_compared,
               test_shorter ? settings.ref_path : settings.test_path);
}

// Ends a run whose comparison has finished: failures first, then the summary.
int finish_run(const RunSettings& settings, const ComparisonOutcome& outcome,
               ReportWriter& report) {
  // Everything for standard output goes out before anything reaches standard error, so
  // that a terminal shows the two streams in order.
  const bool report_written = report.flush() && finish_standard_output();
  int status = 0;
  if (outcome.read_failure != ReadFailure::kNone) {
    const char* const path =
        outcome.read_failure == ReadFailure::kTest ? settings.test_path : settings.ref_path;
    std::fprintf(stderr, "\nCannot read file \"%s\"!\n\n", path);
    status = 1;
  }
  if (!report_written) {
    std::fputs("\nCannot write to standard output!\n\n", stderr);
    status = 1;
  }
  if (status == 0 && outcome.mismatches == 0) write_summary(settings, outcome);
  return status;
}

int run_comparer(const int argc, const char* const* const argv) {
  const CommandLine command_line = parse_command_line(argc, argv);
  if (!command_line.accepted) {
    std::fputs(command_line.refusal.c_str(), stderr);
    return 1;
  }
  const RunSettings& settings = command_line.settings;
  const FrameGeometry geometry = make_frame_geometry(settings.width, settings.height);

  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  const FrameBuffer test_buffer(frame_size);
  const FrameBuffer ref_buffer(frame_size);
  const std::unique_ptr<char[]> report_buffer(new (std::nothrow) char[kReportBufferSize]);
  if (test_buffer.data() == nullptr || ref_buffer.data() == nullptr || !report_buffer) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return 1;
  }

  const FileDescriptor test_file = open_sequence(settings.test_path, true);
  if (!test_file.is_open()) return report_open_failure(settings.test_path);
  const FileDescriptor ref_file =
      open_sequence(settings.ref_path, !is_standard_input(settings.test_path));
  if (!ref_file.is_open()) return report_open_failure(settings.ref_path);

  FileSource test(test_file.get());
  FileSource ref(ref_file.get());
  StdioSink sink(stdout);
  ReportWriter report(sink, std::span<char>(report_buffer.get(), kReportBufferSize));
  const ComparisonOutcome outcome = compare_sequences(
      geometry, settings.max_count, test_buffer.data(), ref_buffer.data(), test, ref, report);
  return finish_run(settings, outcome, report);
}

}  // namespace
}  // namespace framecmp

int main(int argc, char** argv) {
  return framecmp::run_comparer(argc, argv);
}
