// The plain comparison loop (byte by byte, one printf-style call per line) as a program,
// so that the tool comparison can time framecmp against it on the same files.
//
//   printf_walk WIDTH HEIGHT TEST REF
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_geometry.h"
#include "reference_compare.h"
#include "sequence_compare.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: printf_walk WIDTH HEIGHT TEST REF\n", stderr);
    return 2;
  }
  const auto geometry = framecmp::make_frame_geometry(std::atoi(argv[1]), std::atoi(argv[2]));
  const int test_fd = ::open(argv[3], O_RDONLY);
  const int ref_fd = ::open(argv[4], O_RDONLY);
  if (test_fd < 0 || ref_fd < 0) return 2;
  std::vector<std::uint8_t> test_buffer(static_cast<std::size_t>(geometry.frame_size));
  std::vector<std::uint8_t> ref_buffer(test_buffer.size());
  framecmp::FileSource test(test_fd);
  framecmp::FileSource ref(ref_fd);
  framecmp::StdioSink out(stdout);
  const auto outcome = framecmp::testing_support::reference_compare(
      geometry, 0, test_buffer.data(), ref_buffer.data(), test, ref, out);
  std::fflush(stdout);
  return outcome.read_failure == framecmp::ReadFailure::kNone ? 0 : 1;
}
