// Micro-benchmarks: the frame walk on identical and on entirely different frames, and one
// report line by the hand formatter against snprintf.
#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "input/frame_buffers.h"
#include "input/frame_geometry.h"
#include "input/pair_reader.h"
#include "report/report_line.h"
#include "run/run_loop.h"

namespace {

using framecmp::FrameGeometry;

// A sequence of one frame that is already in memory, handed out in place: the walk is
// timed without I/O.
class PrefilledSource final : public framecmp::FrameSource {
 public:
  explicit PrefilledSource(const std::vector<std::uint8_t>& frame) : frame_(frame) {}
  framecmp::ReadResult read_frame(std::uint8_t*, std::size_t) override { return {}; }
  const std::uint8_t* view_frame(std::size_t size, framecmp::ReadResult& result) override {
    result = {std::exchange(left_, 0) > 0 ? size : 0, false};
    return frame_.data();
  }

 private:
  const std::vector<std::uint8_t>& frame_;
  int left_ = 1;
};

class NullSink final : public framecmp::OutputSink {
 public:
  bool write(const char* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    bytes += size;
    return true;
  }
  std::size_t bytes = 0;
};

void walk(benchmark::State& state, std::uint8_t difference, const char* format = "yuv420p",
          std::int32_t height = 1088) {
  const FrameGeometry g =
      framecmp::make_frame_geometry(*framecmp::find_pixel_format(format), 1920, height, 16);
  const auto size = static_cast<std::size_t>(g.frame_size);
  std::vector<std::uint8_t> test_frame(size);
  // Two-byte samples keep within 10 bits, so that the lines have the depth's width.
  const bool two_bytes = g.depth > 8;
  for (std::size_t i = 0; i < size; ++i) {
    test_frame[i] = static_cast<std::uint8_t>(two_bytes && i % 2 == 1 ? i % 4 : i * 31);
  }
  std::vector<std::uint8_t> ref_frame = test_frame;
  for (std::size_t i = 0; i < size; i += two_bytes ? 2 : 1) {
    ref_frame[i] = static_cast<std::uint8_t>(ref_frame[i] ^ difference);
  }
  framecmp::FrameBuffers buffers(size);
  std::vector<char> report_buffer(std::size_t{1} << 20);
  std::int64_t lines = 0;
  for (auto _ : state) {
    PrefilledSource test(test_frame), ref(ref_frame);
    framecmp::PairReader reader(test, ref, buffers, size, 0);
    NullSink sink;
    framecmp::ReportWriter report(sink, report_buffer);
    lines += framecmp::compare_sequences(g, framecmp::CompareOptions{}, reader, report).mismatches;
    report.flush();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}

void BM_WalkIdenticalFrame(benchmark::State& state) {
  walk(state, 0);
}
void BM_WalkEverySampleDiffers(benchmark::State& state) {
  walk(state, 0xFF);
}
void BM_WalkEverySampleDiffers10Bit(benchmark::State& state) {
  walk(state, 0xFF, "yuv420p10le", 1080);
}
void BM_WalkIdenticalNv12(benchmark::State& state) {
  walk(state, 0, "nv12", 1080);
}

void BM_FormatLine(benchmark::State& state) {
  char line[framecmp::kMaxReportLineLength];
  std::int32_t column = 0;
  for (auto _ : state) {
    const framecmp::ReportFields fields{12, 'U', {537, column, 4087}, 3, 250};
    benchmark::DoNotOptimize(framecmp::format_report_line(line, fields, 3));
    benchmark::ClobberMemory();
    column = (column + 1) & 1023;
  }
}

void BM_SnprintfLine(benchmark::State& state) {
  char line[framecmp::kMaxReportLineLength];
  std::int32_t column = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(
        line, sizeof line, "FRM=%4d COMP=%c POS=(%4d,%4d) MB=%6d  ==>  test=%3d != ref=%3d\n", 12,
        'U', 537, column, 4087, 3, 250));
    benchmark::ClobberMemory();
    column = (column + 1) & 1023;
  }
}

BENCHMARK(BM_WalkIdenticalFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkEverySampleDiffers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkEverySampleDiffers10Bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkIdenticalNv12)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FormatLine);
BENCHMARK(BM_SnprintfLine);

}  // namespace

BENCHMARK_MAIN();
