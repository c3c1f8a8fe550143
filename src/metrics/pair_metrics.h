// What is made of one frame pair: the sample lines, and the statistics; each a metric that
// the run loop hands every pair to.
#ifndef FRAMECMP_METRICS_PAIR_METRICS_H_
#define FRAMECMP_METRICS_PAIR_METRICS_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "input/frame_geometry.h"
#include "report/report_line.h"
#include "report/report_writer.h"
#include "metrics/sample_kernels.h"
#include "input/sequence_input.h"
#include "metrics/ssim.h"
#include "base/worker_pool.h"

namespace framecmp {

namespace compare_detail {

// Index (0..7) of the first differing byte of the words at a + at and b + at, or 8.
inline int first_difference_in_word(const std::uint8_t* a, const std::uint8_t* b,
                                    const std::size_t at) {
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, a + at, sizeof x);
  std::memcpy(&y, b + at, sizeof y);
  const std::uint64_t diff = x ^ y;
  const int bit =
      std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
  return bit / 8;
}

}  // namespace compare_detail

// Index of the first byte in [begin, end) where `a` and `b` differ, or `end` when none does.
// Defined here so that the frame walk gets it inlined: it runs once per differing sample.
[[gnu::always_inline]] inline std::size_t find_difference(const std::uint8_t* const a,
                                                          const std::uint8_t* const b,
                                                          std::size_t begin,
                                                          const std::size_t end) {
  using compare_detail::first_difference_in_word;
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  // Differences cluster, so the next word is looked at by itself first; long equal runs
  // then go to memcmp, which is vectorised, and a chunk that differs is searched a word at
  // a time. Only the last few bytes of the range are walked one by one.
  if (end - begin >= kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
    begin += kWord;
  }
  constexpr std::size_t kChunk = 1024;
  while (end - begin >= kChunk && std::memcmp(a + begin, b + begin, kChunk) == 0) begin += kChunk;
  for (; end - begin >= kWord; begin += kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
  }
  for (; begin < end; ++begin) {
    if (a[begin] != b[begin]) return begin;
  }
  return end;
}

// What a metric made of one frame pair.
struct PairVerdict {
  std::int64_t beyond = 0;     // samples beyond the tolerance
  bool bytes_differ = false;   // some byte differs, beyond the tolerance or within it
  bool limit_reached = false;  // the report's line limit is reached: nothing more is read
  std::int64_t blocks = 0;     // damaged blocks reported (the blocks report)
  // The pair's first difference, as the report orders them; set by a metric at least for
  // the first pair with a sample beyond the tolerance.
  std::optional<ReportFields> first{};
};

// One job done on every frame pair of a run: the run loop hands each pair to one metric,
// so that a new report needs a new metric, never a new loop.
class PairMetric {
 public:
  virtual ~PairMetric() = default;
  // Works on one whole pair; writes nothing that cannot be taken back.
  virtual PairVerdict measure(const FramePair& pair) = 0;
  // Hands on what measure() made of the pair; false when the report is lost, which ends
  // the run before anything more is read.
  virtual bool publish() = 0;
  // The pair's bytes could not be read after all (a mapped file shrank): drops what
  // measure() made of it.
  virtual void discard() {}
};

// The sample lines: every sample of a pair, plane by plane in the order Y, U, V, that
// differs by more than the tolerance, as one report line each, until `max_count` lines
// (0: no limit) were written over the run. Whole blocks are compared first, and samples
// walked only where they differ.
class SampleLines final : public PairMetric {
 public:
  // Precondition: max_count >= 0, tolerance >= 0. With a tolerance, `workers` (may be
  // null) first search the planes for a sample beyond it, so that a pair within the
  // tolerance is decided on every thread; the lines are written by one. Keeps references
  // to the geometry, the workers and the report.
  SampleLines(const FrameGeometry& geometry, std::int64_t max_count, std::int32_t tolerance,
              WorkerPool* workers, ReportWriter& report);
  SampleLines(const SampleLines&) = delete;
  SampleLines& operator=(const SampleLines&) = delete;
  ~SampleLines() override;
  PairVerdict measure(const FramePair& pair) override;
  // A frame's lines go out when the frame ends, so that a reader of a slow pipe sees each
  // bad frame at once and an interrupted run keeps every finished frame's lines.
  bool publish() override;
  void discard() override { report_.discard(); }

  // What a plane walk is told, and where it stands (defined with the walks).
  struct Walk;
  struct WalkState;
  // One plane's walk, compiled for its sample layout; true when it stopped at the line
  // limit or at a failed report.
  using PlaneWalker = bool (*)(const Walk&, const PlaneLayout&, WalkState&, ReportWriter&);

 private:
  struct Search;  // the bands that the workers search, made once
  const FrameGeometry& geometry_;
  std::unique_ptr<Search> search_;  // null without a tolerance or workers
  std::int64_t cap_;                // the line count at which the walk stops
  std::uint32_t tolerance_;
  std::array<PlaneWalker, 3> walkers_{};
  ReportWriter& report_;
  std::int64_t lines_ = 0;       // lines written over the run, <= cap_
  std::int64_t last_found_ = 0;  // lines of the last pair
  bool first_named_ = false;     // the run's first difference was handed on
};

// The statistics of one frame pair, plane by plane (Y, U, V; only Y for grey).
struct FrameMeasure {
  std::int64_t frame = 0;  // the test file's index
  std::array<SampleStats, 3> planes{};
  FrameSsim ssim;  // measured only when the run asks for SSIM; else every `has` is false
};

// Takes the statistics of a measured run.
class MeasureSink {
 public:
  virtual ~MeasureSink() = default;
  // Each compared frame pair, in order; false when the report is lost, which ends the run
  // (RunEnd::kOutputLost) before anything more is read.
  virtual bool frame(const FrameMeasure& measure) = 0;
  // Once, after the last frame: the first sample beyond the tolerance (the test file's
  // frame index), if any.
  virtual void first_difference(const std::optional<ReportFields>& first) = 0;
};

// Hands everything to two sinks: the first one's answer rules, the second only follows
// (it keeps its own failure).
class MeasureTee final : public MeasureSink {
 public:
  MeasureTee(MeasureSink& lead, MeasureSink& follower) : lead_(lead), follower_(follower) {}
  bool frame(const FrameMeasure& measure) override {
    follower_.frame(measure);
    return lead_.frame(measure);
  }
  void first_difference(const std::optional<ReportFields>& first) override {
    lead_.first_difference(first);
    follower_.first_difference(first);
  }

 private:
  MeasureSink& lead_;
  MeasureSink& follower_;
};

// Two metrics on every pair: the lead's verdict and report decide the run; the follower
// only follows.
class MetricPair final : public PairMetric {
 public:
  MetricPair(PairMetric& lead, PairMetric& follower) : lead_(lead), follower_(follower) {}
  PairVerdict measure(const FramePair& pair) override {
    follower_.measure(pair);
    return lead_.measure(pair);
  }
  bool publish() override {
    follower_.publish();
    return lead_.publish();
  }
  void discard() override {
    lead_.discard();
    follower_.discard();
  }

 private:
  PairMetric& lead_;
  PairMetric& follower_;
};

// The statistics of every frame pair, handed to a MeasureSink: per plane the samples
// beyond the tolerance, the largest difference and the sum of squared differences. Equal
// planes cost no arithmetic. The planes are cut into bands that the workers share; the
// statistics are integers, so they are the same for any number of threads.
class PairStatistics final : public PairMetric {
 public:
  // Precondition: tolerance >= 0. `workers` may be null (one thread). With `ssim`, every
  // pair's SSIM is measured too. Keeps references to the geometry, the workers and the
  // sink.
  PairStatistics(const FrameGeometry& geometry, std::int32_t tolerance, WorkerPool* workers,
                 bool ssim, MeasureSink& sink);
  PairStatistics(const PairStatistics&) = delete;
  PairStatistics& operator=(const PairStatistics&) = delete;
  ~PairStatistics() override;
  PairVerdict measure(const FramePair& pair) override;
  bool publish() override { return sink_.frame(last_); }
  // Tells the sink of the first sample beyond the tolerance; once, after the last pair.
  void finish() { sink_.first_difference(first_); }

 private:
  struct Plan;  // the kernels, the bands and the threads, made once
  const FrameGeometry& geometry_;
  std::uint32_t tolerance_;
  MeasureSink& sink_;
  std::unique_ptr<SsimMeter> ssim_;  // null without SSIM
  std::unique_ptr<Plan> plan_;       // made after ssim_, whose bands it follows
  FrameMeasure last_;
  std::optional<ReportFields> first_;
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_PAIR_METRICS_H_
