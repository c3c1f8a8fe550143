// The damaged blocks against a plain model that knows nothing of the fast path: every
// block's samples visited one by one, the first difference the least z-scan key; and the
// column kernel at every level the CPU has against its model.
#include "report/block_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "input/frame_buffers.h"
#include "input/frame_convert.h"
#include "input/pair_reader.h"
#include "run/run_loop.h"
#include "support/kernel_levels.h"
#include "support/reference_compare.h"

namespace framecmp {
namespace {

using testing_support::MemorySource;
using testing_support::plain_frame_size;
using testing_support::plain_planes;
using testing_support::PlainPlane;
using testing_support::PlainRun;
using testing_support::StringSink;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t plain_sample(const PixelFormat& format, const Bytes& frame, const std::size_t at) {
  if (format.bytes_per_sample == 1) return frame[at];
  const std::uint32_t first = frame[at];
  const std::uint32_t second = frame[at + 1];
  return format.byte_order == ByteOrder::kLittle ? first | second << 8 : first << 8 | second;
}

// The quadtree's order of 4x4 unit (row, column): bits interleaved, the row's above.
std::uint32_t morton(const std::int64_t row, const std::int64_t column) {
  std::uint32_t code = 0;
  for (int bit = 0; bit < 16; ++bit) {
    code |= static_cast<std::uint32_t>((column >> bit) & 1) << (2 * bit);
    code |= static_cast<std::uint32_t>((row >> bit) & 1) << (2 * bit + 1);
  }
  return code;
}

// A window of the frame in luma samples (--crop); width 0: the whole frame.
struct Window {
  std::int64_t x = 0, y = 0, width = 0, height = 0;
  bool holds(const PlainPlane& plane, const std::int64_t row, const std::int64_t column) const {
    return width == 0 || (row >= y / plane.sub_y && row < (y + height) / plane.sub_y &&
                          column >= x / plane.sub_x && column < (x + width) / plane.sub_x);
  }
};

// The lines of one frame pair's damaged blocks, one snprintf each; only the samples inside
// `window` count.
std::vector<std::string> plain_block_lines(const PlainRun& run, const std::int64_t frame,
                                           const Bytes& test, const Bytes& ref,
                                           const Window& window = {}) {
  const std::vector<PlainPlane> planes = plain_planes(run);
  const std::int64_t across = (run.width + run.block - 1) / run.block;
  const std::int64_t down = (run.height + run.block - 1) / run.block;
  std::vector<std::string> lines;
  for (std::int64_t by = 0; by < down; ++by) {
    for (std::int64_t bx = 0; bx < across; ++bx) {
      std::uint32_t beyond[3] = {};
      std::uint32_t max = 0;
      std::tuple<std::uint32_t, std::int64_t, std::int64_t> best{UINT32_MAX, 0, 0};
      std::int64_t first[3] = {0, 0, -1};  // plane, row, column
      for (std::size_t p = 0; p < planes.size(); ++p) {
        const PlainPlane& plane = planes[p];
        const std::int64_t bw = run.block / plane.sub_x;
        const std::int64_t bh = run.block / plane.sub_y;
        best = {UINT32_MAX, 0, 0};
        for (std::int64_t r = by * bh; r < std::min((by + 1) * bh, plane.height); ++r) {
          for (std::int64_t c = bx * bw; c < std::min((bx + 1) * bw, plane.width); ++c) {
            if (!window.holds(plane, r, c)) continue;
            const auto at =
                static_cast<std::size_t>(plane.start + (r * plane.width + c) * plane.step);
            const std::uint32_t a = plain_sample(run.format, test, at);
            const std::uint32_t b = plain_sample(run.format, ref, at);
            const std::uint32_t d = a > b ? a - b : b - a;
            max = std::max(max, d);
            if (d <= run.tolerance) continue;
            ++beyond[p];
            const std::int64_t ur = (r - by * bh) / 4;
            const std::int64_t uc = (c - bx * bw) / 4;
            const std::tuple<std::uint32_t, std::int64_t, std::int64_t> key{morton(ur, uc), r, c};
            if (key < best) best = key;
          }
        }
        if (beyond[p] > 0 && first[2] < 0) {
          first[0] = static_cast<std::int64_t>(p);
          first[1] = std::get<1>(best);
          first[2] = std::get<2>(best);
        }
      }
      if (first[2] < 0) continue;
      char line[256];
      int used = std::snprintf(
          line, sizeof line, "FRM=%4lld MB=%6lld POS=(%4lld,%4lld)", static_cast<long long>(frame),
          static_cast<long long>(by * across + bx), static_cast<long long>(by * run.block),
          static_cast<long long>(bx * run.block));
      for (std::size_t p = 0; p < planes.size(); ++p) {
        used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), " %c=%5u",
                              planes[p].letter, beyond[p]);
      }
      std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used),
                    " MAX=%5u FIRST=%c(%4lld,%4lld)\n", max,
                    planes[static_cast<std::size_t>(first[0])].letter,
                    static_cast<long long>(first[1]), static_cast<long long>(first[2]));
      lines.emplace_back(line);
    }
  }
  return lines;
}

struct BlockRun {
  std::string text;
  ComparisonOutcome outcome;
};

// The samples of `window` of every frame of `bytes`, plane by plane: a file of the window.
Bytes cut(const PlainRun& run, const Bytes& bytes, const Window& window) {
  const std::vector<PlainPlane> planes = plain_planes(run);
  const auto frame_size = static_cast<std::size_t>(plain_frame_size(run));
  Bytes out;
  for (std::size_t frame = 0; frame < bytes.size(); frame += frame_size) {
    for (const PlainPlane& plane : planes) {
      for (std::int64_t r = window.y / plane.sub_y; r < (window.y + window.height) / plane.sub_y;
           ++r) {
        for (std::int64_t c = window.x / plane.sub_x; c < (window.x + window.width) / plane.sub_x;
             ++c) {
          const auto at =
              frame + static_cast<std::size_t>(plane.start + (r * plane.width + c) * plane.step);
          for (std::int64_t b = 0; b < run.format.bytes_per_sample; ++b) {
            out.push_back(bytes[at + static_cast<std::size_t>(b)]);
          }
        }
      }
    }
  }
  return out;
}

// The block lines of two sequences of `geometry`; with `stored`, the sequences hold frames
// of that geometry, cut to the window as they pass (--crop).
BlockRun fast_blocks(const FrameGeometry& geometry, const Bytes& test, const Bytes& ref,
                     const std::int64_t max_count, const std::int32_t tolerance,
                     WorkerPool* const workers, const FrameGeometry* const stored = nullptr) {
  MemorySource test_bytes(test);
  MemorySource ref_bytes(ref);
  std::optional<ConvertingSource> test_cut;
  std::optional<ConvertingSource> ref_cut;
  if (stored != nullptr) {
    test_cut.emplace(test_bytes, *stored, geometry);
    ref_cut.emplace(ref_bytes, *stored, geometry);
  }
  FrameSource& test_source = test_cut ? static_cast<FrameSource&>(*test_cut) : test_bytes;
  FrameSource& ref_source = ref_cut ? static_cast<FrameSource&>(*ref_cut) : ref_bytes;
  const auto size = static_cast<std::size_t>(geometry.frame_size);
  FrameBuffers buffers(size);
  PairReader reader(test_source, ref_source, buffers, size, 0);
  std::vector<char> buffer(4096);  // small, so that the texts are cut across flushes
  StringSink sink;
  ReportWriter report(sink, buffer);
  BlockLines lines(geometry, max_count, tolerance, workers, report, BlockFormat::kText);
  CompareOptions options;
  options.max_count = max_count;
  BlockRun run;
  run.outcome = run_pairs(reader, options, lines);
  report.flush();
  run.text = sink.text;
  return run;
}

TEST(BlockDamage, LinesMatchThePlainModel) {
  const char* const formats[] = {"yuv420p",  "yuv422p",    "yuv444p",     "gray",
                                 "nv12",     "nv21",       "yuv420p10le", "yuv420p10be",
                                 "gray16le", "yuv444p12be"};
  std::mt19937 random(20261210);
  WorkerPool pool(3);
  for (int trial = 0; trial < 160; ++trial) {
    PlainRun run{
        find_pixel_format(formats[static_cast<std::size_t>(trial) % std::size(formats)]).value()};
    run.width = 1 + static_cast<std::int64_t>(random() % 70);
    run.height = 1 + static_cast<std::int64_t>(random() % 50);
    run.block = std::int64_t{4} << (random() % 4);
    run.tolerance = random() % 3 == 0 ? 0 : static_cast<std::uint32_t>(random() % 40);
    const std::int64_t frame_size = plain_frame_size(run);
    const std::size_t frames = 1 + random() % 3;
    Bytes ref(static_cast<std::size_t>(frame_size) * frames);
    for (std::uint8_t& byte : ref) byte = static_cast<std::uint8_t>(random());
    Bytes test = ref;
    // Sparse damage in some frames, dense in others: both the equal rows and the walk.
    const std::size_t damaged = random() % 2 == 0 ? 1 + random() % 6 : test.size() / 3;
    for (std::size_t i = 0; i < damaged; ++i)
      test[random() % test.size()] ^= static_cast<std::uint8_t>(random());
    const FrameGeometry geometry = make_frame_geometry(
        run.format, static_cast<std::int32_t>(run.width), static_cast<std::int32_t>(run.height),
        static_cast<std::int32_t>(run.block));
    std::vector<std::string> lines;
    for (std::size_t f = 0; f < frames; ++f) {
      const auto at = static_cast<std::ptrdiff_t>(f * static_cast<std::size_t>(frame_size));
      const Bytes a(test.begin() + at, test.begin() + at + frame_size);
      const Bytes b(ref.begin() + at, ref.begin() + at + frame_size);
      for (std::string& line : plain_block_lines(run, static_cast<std::int64_t>(f), a, b)) {
        lines.push_back(std::move(line));
      }
    }
    const std::int64_t cap = trial % 4 == 3 ? 1 + static_cast<std::int64_t>(random() % 5) : 0;
    std::string expected;
    for (std::size_t i = 0; i < lines.size() && (cap == 0 || static_cast<std::int64_t>(i) < cap);
         ++i) {
      expected += lines[i];
    }
    // A window of the planar formats (--crop) in every other round of the format list, so
    // that each format gets windows, on whole chroma samples: blocks numbered in the whole
    // frame, only the window's samples counted.
    if (!run.format.interleaved_chroma && run.width >= 2 && run.height >= 2 &&
        (trial / 10) % 2 == 0) {
      Window window;
      window.x =
          2 * static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(run.width / 2));
      window.y =
          2 * static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(run.height / 2));
      window.width = 2 + 2 * static_cast<std::int64_t>(
                                 random() % static_cast<std::uint64_t>((run.width - window.x) / 2));
      window.height =
          2 + 2 * static_cast<std::int64_t>(
                      random() % static_cast<std::uint64_t>((run.height - window.y) / 2));
      window.width = std::min(window.width, (run.width - window.x) / 2 * 2);
      window.height = std::min(window.height, (run.height - window.y) / 2 * 2);
      std::string windowed;
      for (std::size_t f = 0; f < frames; ++f) {
        const auto at = static_cast<std::ptrdiff_t>(f * static_cast<std::size_t>(frame_size));
        const Bytes a(test.begin() + at, test.begin() + at + frame_size);
        const Bytes b(ref.begin() + at, ref.begin() + at + frame_size);
        for (const std::string& line :
             plain_block_lines(run, static_cast<std::int64_t>(f), a, b, window)) {
          windowed += line;
        }
      }
      const FrameGeometry inside = make_window_geometry(
          run.format, static_cast<std::int32_t>(run.width), static_cast<std::int32_t>(run.height),
          static_cast<std::int32_t>(run.block), static_cast<std::int32_t>(window.x),
          static_cast<std::int32_t>(window.y), static_cast<std::int32_t>(window.width),
          static_cast<std::int32_t>(window.height));
      SCOPED_TRACE(run.format.name + " window " + std::to_string(window.width) + "x" +
                   std::to_string(window.height) + "+" + std::to_string(window.x) + "+" +
                   std::to_string(window.y) + " of " + std::to_string(run.width) + "x" +
                   std::to_string(run.height) + " block " + std::to_string(run.block));
      EXPECT_EQ(fast_blocks(inside, cut(run, test, window), cut(run, ref, window), 0,
                            static_cast<std::int32_t>(run.tolerance), &pool)
                    .text,
                windowed);
      // The same window cut from the whole frames as they pass.
      EXPECT_EQ(fast_blocks(inside, test, ref, 0, static_cast<std::int32_t>(run.tolerance), &pool,
                            &geometry)
                    .text,
                windowed);
    }
    for (WorkerPool* const workers : {static_cast<WorkerPool*>(nullptr), &pool}) {
      SCOPED_TRACE(run.format.name + " " + std::to_string(run.width) + "x" +
                   std::to_string(run.height) + " block " + std::to_string(run.block) +
                   " tolerance " + std::to_string(run.tolerance) + " cap " + std::to_string(cap));
      const BlockRun fast =
          fast_blocks(geometry, test, ref, cap, static_cast<std::int32_t>(run.tolerance), workers);
      EXPECT_EQ(fast.text, expected);
      EXPECT_EQ(fast.outcome.damaged_blocks,
                static_cast<std::int64_t>(
                    cap == 0 ? lines.size()
                             : std::min<std::size_t>(lines.size(), static_cast<std::size_t>(cap))));
    }
  }
}

// The column kernel at every level against a column-by-column model.
TEST(BlockDamage, ColumnKernelAtEveryLevel) {
  const char* const formats[] = {"yuv420p", "nv12", "yuv420p10le", "yuv420p16be"};
  std::mt19937 random(7);
  at_every_kernel_level([&](const KernelLevel level) {
    for (const char* const name : formats) {
      const FrameGeometry geometry =
          make_frame_geometry(find_pixel_format(name).value(), 16, 16, 16);
      const PlaneLayout& plane = geometry.planes[1];  // the pair plane's U for nv12
      const ColumnKernel kernel = column_kernel_for(plane);
      const std::uint32_t largest = (std::uint32_t{1} << geometry.depth) - 1;
      for (std::size_t columns = 0; columns < 80; columns += 1 + columns / 16) {
        for (const std::uint32_t tolerance : {0u, 1u, 200u, largest, 70000u}) {
          Bytes a(columns * plane.stride + 2);
          Bytes b(a.size());
          for (std::size_t i = 0; i < a.size(); ++i) {
            a[i] = static_cast<std::uint8_t>(random());
            b[i] = random() % 3 == 0 ? a[i] : static_cast<std::uint8_t>(random() % 2 ? 0 : 255);
          }
          std::vector<std::uint16_t> max(columns), count(columns);
          for (std::size_t x = 0; x < columns; ++x) {
            max[x] = static_cast<std::uint16_t>(random() % 300);
            count[x] = static_cast<std::uint16_t>(random() % 300);
          }
          std::vector<std::uint16_t> model_max = max, model_count = count;
          for (std::size_t x = 0; x < columns; ++x) {
            const std::size_t at = x * plane.stride;
            const std::uint32_t d =
                absolute_difference(load_sample(&a[at], plane.bytes_per_sample, plane.byte_order),
                                    load_sample(&b[at], plane.bytes_per_sample, plane.byte_order));
            model_max[x] = static_cast<std::uint16_t>(std::max<std::uint32_t>(model_max[x], d));
            model_count[x] = static_cast<std::uint16_t>(model_count[x] + (d > tolerance));
          }
          kernel(a.data(), b.data(), columns, tolerance, max.data(), count.data());
          ASSERT_EQ(max, model_max) << name << " level " << static_cast<int>(level);
          ASSERT_EQ(count, model_count) << name << " level " << static_cast<int>(level);
        }
      }
    }
  });
}

}  // namespace
}  // namespace framecmp
