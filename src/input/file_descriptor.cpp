#include "input/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace framecmp {

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0 && owned_) ::close(fd_);
}

bool guard_standard_descriptors(StandardDescriptors& closed) {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number is taken, and every lower one is open by now: that is fd.
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return false;
    if (fd == 0) closed.input_closed = true;
    if (fd == 1) closed.output_closed = true;
  }
  return true;
}

bool is_standard_input(const char* const path) {
  return std::strcmp(path, "-") == 0;
}

FileDescriptor open_sequence(const char* const path, const bool standard_input_free) {
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
  // A pipe of 1 MiB instead of 64 KiB lets its writer and framecmp switch a sixteenth as
  // often; where the system does not allow it, the pipe stays as it is.
  if (S_ISFIFO(status.st_mode)) ::fcntl(file.get(), F_SETPIPE_SZ, 1 << 20);
  return file;
}

}  // namespace framecmp
