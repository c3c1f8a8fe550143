// Writes a synthetic raw planar 4:2:0 sequence for examples and benchmarks.
//
//   make_sequence OUTPUT WIDTH HEIGHT FRAMES [--seed N] [--invert] [--tail BYTES]
//                 [--depth BITS] [--nudge] [--y4m] [--nv12] [--poke FRAME:OFFSET:VALUE]...
//
// Samples follow a smooth pattern shifted by the seed and the frame index, so that two
// runs with the same arguments write the same bytes. --invert turns every sample v into
// max - v (a sequence that differs from the plain one in every sample), --nudge flips the
// lowest bit of every sample (off by exactly one everywhere), --tail appends a
// partial frame of that many bytes, --depth 9..16 writes two-byte little-endian samples of
// that depth (yuv420p10le and the like), --y4m writes a YUV4MPEG2 stream (a header, then
// a FRAME line before each frame), --nv12 writes the same 8-bit frames with U and V
// interleaved (NV12), and --poke sets one byte (OFFSET counts from the start of the frame,
// before any interleaving).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Poke {
  long frame;
  long offset;
  int value;
};

int fail(const char* message) {
  std::fprintf(stderr, "make_sequence: %s\n", message);
  return 2;
}

void fill_frame(std::vector<std::uint8_t>& frame, long width, long height, long index, long seed,
                int depth, bool invert, bool nudge) {
  const long luma = width * height;
  const long bytes = depth > 8 ? 2 : 1;
  const long max = (1L << depth) - 1;
  for (long i = 0; i < static_cast<long>(frame.size()) / bytes; ++i) {
    // Chroma planes get their own slope so that the planes do not look alike.
    const long plane_width = i < luma ? width : width / 2;
    const long offset = i < luma ? i : (i - luma) % (luma / 4);
    const long x = offset % plane_width;
    const long y = offset / plane_width;
    long value = (x + 2 * y + 3 * index + seed + (i < luma ? 0 : 64)) & max;
    if (invert) value = max - value;
    if (nudge) value ^= 1;
    for (long b = 0; b < bytes; ++b) {
      frame[static_cast<std::size_t>(i * bytes + b)] = static_cast<std::uint8_t>(value >> (8 * b));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return fail("usage: OUTPUT WIDTH HEIGHT FRAMES [options]");
  const long width = std::atol(argv[2]);
  const long height = std::atol(argv[3]);
  const long frames = std::atol(argv[4]);
  if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || frames < 0) {
    return fail("bad dimensions or frame count");
  }
  long seed = 0;
  long tail = 0;
  int depth = 8;
  bool invert = false;
  bool nudge = false;
  bool y4m = false;
  bool nv12 = false;
  std::vector<Poke> pokes;
  for (int i = 5; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--invert") {
      invert = true;
    } else if (option == "--nudge") {
      nudge = true;
    } else if (option == "--y4m") {
      y4m = true;
    } else if (option == "--nv12") {
      nv12 = true;
    } else if (option == "--depth" && i + 1 < argc) {
      depth = std::atoi(argv[++i]);
      if (depth < 8 || depth > 16) return fail("--depth wants 8 to 16");
    } else if (option == "--seed" && i + 1 < argc) {
      seed = std::atol(argv[++i]);
    } else if (option == "--tail" && i + 1 < argc) {
      tail = std::atol(argv[++i]);
    } else if (option == "--poke" && i + 1 < argc) {
      Poke poke{};
      if (std::sscanf(argv[++i], "%ld:%ld:%d", &poke.frame, &poke.offset, &poke.value) != 3) {
        return fail("--poke wants FRAME:OFFSET:VALUE");
      }
      pokes.push_back(poke);
    } else {
      return fail("unknown option");
    }
  }
  const auto frame_size = static_cast<std::size_t>(width * height * 3 / 2 * (depth > 8 ? 2 : 1));
  if (tail < 0 || static_cast<std::size_t>(tail) >= frame_size) return fail("bad --tail");

  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return fail("cannot create the output file");
  if (y4m) {
    const char* const colour = depth == 8 ? "420jpeg" : depth == 10 ? "420p10" : "420p16";
    std::fprintf(out, "YUV4MPEG2 W%ld H%ld F25:1 Ip A1:1 C%s\n", width, height, colour);
  }
  if (nv12 && depth > 8) return fail("--nv12 is 8-bit");
  std::vector<std::uint8_t> frame(frame_size);
  std::vector<std::uint8_t> paired(frame_size);
  for (long index = 0; index <= frames; ++index) {
    fill_frame(frame, width, height, index, seed, depth, invert, nudge);
    for (const Poke& poke : pokes) {
      if (poke.frame == index && poke.offset >= 0 &&
          static_cast<std::size_t>(poke.offset) < frame_size) {
        frame[static_cast<std::size_t>(poke.offset)] = static_cast<std::uint8_t>(poke.value);
      }
    }
    // The last pass writes only the partial tail frame, if any.
    const std::size_t size = index < frames ? frame_size : static_cast<std::size_t>(tail);
    if (y4m && size > 0) std::fputs("FRAME\n", out);
    const std::uint8_t* bytes = frame.data();
    if (nv12) {
      const auto luma = static_cast<std::size_t>(width * height);
      const std::size_t quarter = luma / 4;
      std::copy(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(luma), paired.begin());
      for (std::size_t i = 0; i < quarter; ++i) {
        paired[luma + 2 * i] = frame[luma + i];
        paired[luma + 2 * i + 1] = frame[luma + quarter + i];
      }
      bytes = paired.data();
    }
    if (std::fwrite(bytes, 1, size, out) != size) return fail("write failed");
  }
  if (std::fclose(out) != 0) return fail("write failed");
  return 0;
}
