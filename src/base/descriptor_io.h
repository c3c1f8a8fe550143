// Small POSIX helpers shared by the input and the output side.
#ifndef FRAMECMP_BASE_DESCRIPTOR_IO_H_
#define FRAMECMP_BASE_DESCRIPTOR_IO_H_

#include <cstdint>

namespace framecmp {

enum class Readiness : std::uint8_t { kReadable, kWritable };

// Waits, as long as it takes, until the non-blocking descriptor `fd` can be read or written
// without EAGAIN. False when it never will be (an error on the descriptor).
bool wait_until_ready(int fd, Readiness readiness);

}  // namespace framecmp

#endif  // FRAMECMP_BASE_DESCRIPTOR_IO_H_
