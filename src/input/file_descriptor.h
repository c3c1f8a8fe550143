// Descriptors: the standard three guarded, a sequence opened (a path or standard input).
#ifndef FRAMECMP_INPUT_FILE_DESCRIPTOR_H_
#define FRAMECMP_INPUT_FILE_DESCRIPTOR_H_

#include <cstdint>
#include <utility>

namespace framecmp {

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
  ~FileDescriptor();
  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }

 private:
  int fd_;      // -1 when nothing is open
  bool owned_;  // false for standard input
};

// Which of the standard descriptors were closed when the process started.
struct StandardDescriptors {
  bool input_closed = false;
  bool output_closed = false;
};

// A closed descriptor 0, 1 or 2 would be taken by the next file opened: "-" would then
// read the test file, or report lines would go into it. Keeps each closed one occupied by
// /dev/null and records which were closed in `closed`. False when even that is impossible.
bool guard_standard_descriptors(StandardDescriptors& closed);

// True for the path that names standard input, "-".
bool is_standard_input(const char* path);

// Opens a sequence for reading. "-" is standard input while `standard_input_free` (only
// one sequence can read it, and not when it was closed). A directory opens under POSIX
// but cannot be read as a sequence, so it counts as a file that cannot be opened. Not
// open on failure.
FileDescriptor open_sequence(const char* path, bool standard_input_free);

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_FILE_DESCRIPTOR_H_
