// The YUV4MPEG2 header and marker parser, and the reader that finds them in a stream.
// The input is a stream as a file would hold it; it is read through a memory file the way
// a sequence is read. A parsed header must describe a usable geometry, a refusal must say
// why, and the reader must never hand back more bytes than the stream holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "input/frame_geometry.h"
#include "input/pixel_format.h"
#include "input/sequence_input.h"
#include "input/y4m.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The parsers on their own, on the first line.
  const std::string_view line = text.substr(0, text.find('\n'));
  const framecmp::Y4mHeaderResult parsed = framecmp::parse_y4m_header(line);
  if (parsed.header) {
    check(parsed.problem.empty());
    check(parsed.header->width > 0 && parsed.header->height > 0);
    check(framecmp::find_pixel_format(parsed.header->format.name).has_value());
  } else {
    check(!parsed.problem.empty());
  }
  // The marker scanner on the first line and its newline: found exactly when the line is
  // FRAME, alone or before a blank, and the whole fits kMaxY4mMarkerLength bytes.
  framecmp::Y4mMarkerScanner scanner;
  auto kind = framecmp::Y4mMarkerScanner::Kind::kMore;
  for (std::size_t i = 0; i <= line.size() && kind == framecmp::Y4mMarkerScanner::Kind::kMore;
       ++i) {
    kind = scanner.feed(i < line.size() ? static_cast<std::uint8_t>(line[i]) : '\n');
  }
  check((kind == framecmp::Y4mMarkerScanner::Kind::kFound) ==
        ((line == "FRAME" || line.substr(0, 6) == "FRAME ") &&
         line.size() + 1 <= framecmp::kMaxY4mMarkerLength));

  // The reader, on the whole stream.
  const int fd = memfd_create("stream", 0);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  lseek(fd, 0, SEEK_SET);
  framecmp::SequenceSource source(fd);
  const framecmp::SequenceSource::Detection detection = source.detect();
  std::size_t frame_size = 16;
  using HeaderProblem = framecmp::SequenceSource::Detection::HeaderProblem;
  if (detection.y4m && detection.header_problem == HeaderProblem::kNone) {
    const framecmp::Y4mHeaderResult header = framecmp::parse_y4m_header(detection.header_line);
    if (header.header) {
      const std::int64_t bytes = framecmp::frame_size_of(
          header.header->format, header.header->width, header.header->height);
      if (bytes > 4096) {
        close(fd);
        return 0;
      }
      frame_size = static_cast<std::size_t>(bytes);
    }
  }
  source.set_frame_size(frame_size);
  std::vector<std::uint8_t> buffer(frame_size);
  std::size_t total = detection.header_line.size();
  for (int frames = 0; frames < 1000; ++frames) {
    // Half frames, as the pair reader may ask for pieces.
    const std::size_t half = frame_size / 2;
    const framecmp::ReadResult first = source.read_frame(buffer.data(), half);
    const framecmp::ReadResult second =
        first.bytes == half ? source.read_frame(buffer.data() + half, frame_size - half)
                            : framecmp::ReadResult{};
    total += first.bytes + second.bytes;
    check(total <= size);
    if (first.bytes + second.bytes < frame_size) {
      check(source.bad_marker_frame() < 0 || first.failed || second.failed);
      break;
    }
  }
  close(fd);
  return 0;
}
