#include "base/descriptor_io.h"

#include <poll.h>

#include <cerrno>

namespace framecmp {

bool wait_until_ready(const int fd, const Readiness readiness) {
  pollfd entry{fd, static_cast<short>(readiness == Readiness::kReadable ? POLLIN : POLLOUT), 0};
  while (::poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  // A hang-up still lets the next read see the end of the input; only an error stops here.
  return (entry.revents & (POLLERR | POLLNVAL)) == 0;
}

}  // namespace framecmp
