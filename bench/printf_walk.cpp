// The plain comparison loop (sample by sample, one printf-style call per line) as a
// program, so that the tool comparison can time framecmp against it on the same files.
//
//   printf_walk PIX_FMT WIDTH HEIGHT TEST REF
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "input/pixel_format.h"
#include "input/sequence_input.h"
#include "support/reference_compare.h"

namespace {

// stdio's buffering, as a plain program would have it.
class StdioSink final : public framecmp::OutputSink {
 public:
  bool write(const char* data, std::size_t size) override {
    return std::fwrite(data, 1, size, stdout) == size;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: printf_walk PIX_FMT WIDTH HEIGHT TEST REF\n", stderr);
    return 2;
  }
  const auto format = framecmp::find_pixel_format(argv[1]);
  const int test_fd = ::open(argv[4], O_RDONLY);
  const int ref_fd = ::open(argv[5], O_RDONLY);
  if (!format || test_fd < 0 || ref_fd < 0) return 2;
  framecmp::FileSource test(test_fd);
  framecmp::FileSource ref(ref_fd);
  StdioSink out;
  const framecmp::testing_support::PlainRun run{*format, std::atol(argv[2]), std::atol(argv[3])};
  const auto outcome = framecmp::testing_support::reference_compare(run, test, ref, out);
  std::fflush(stdout);
  return outcome.end == framecmp::RunEnd::kTestReadFailed ||
                 outcome.end == framecmp::RunEnd::kRefReadFailed
             ? 1
             : 0;
}
