// What is made of one frame pair: the metric interface that the run loop hands every pair
// to, and the statistics.
#ifndef FRAMECMP_METRICS_PAIR_METRICS_H_
#define FRAMECMP_METRICS_PAIR_METRICS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"
#include "metrics/difference.h"
#include "metrics/metric_set.h"
#include "metrics/sample_kernels.h"

namespace framecmp {

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

// The statistics of every frame pair, booked into the run's metrics and handed to a
// MeasureSink: per plane the samples beyond the tolerance, the largest difference and the
// sum of squared differences. Equal planes cost no arithmetic. The planes are cut into
// bands that the workers share, and the metrics' band work rides on them; the statistics
// are integers, so they are the same for any number of threads.
class PairStatistics final : public PairMetric {
 public:
  // Precondition: tolerance >= 0. `workers` may be null (one thread); `metrics` may be
  // null (the statistics alone). Keeps references to all of them and the sink.
  PairStatistics(const FrameGeometry& geometry, std::int32_t tolerance, WorkerPool* workers,
                 MetricSet* metrics, MeasureSink& sink);
  PairStatistics(const PairStatistics&) = delete;
  PairStatistics& operator=(const PairStatistics&) = delete;
  ~PairStatistics() override;
  PairVerdict measure(const FramePair& pair) override;
  bool publish() override {
    if (metrics_ == nullptr) return sink_.frame(last_);
    // A delayed metric gives a pair's values with the next pair's.
    if (!metrics_->book(last_)) return true;
    return sink_.frame(metrics_->ready());
  }
  // Hands on the pair a delayed metric still held, then tells the sink of the first sample
  // beyond the tolerance; once, after the last pair.
  void finish() {
    if (metrics_ != nullptr && metrics_->flush()) sink_.frame(metrics_->ready());
    sink_.first_difference(first_);
  }

 private:
  struct Plan;  // the kernels, the bands and the threads, made once
  // The band work of every metric but the first, each over its own bands.
  void measure_followers(const FramePair& pair, const std::array<bool, 3>& known);
  const FrameGeometry& geometry_;
  std::uint32_t tolerance_;
  MeasureSink& sink_;
  MetricSet* metrics_;
  std::vector<BandedMeasure*> banded_;  // the metrics' band work; the first leads the bands
  std::unique_ptr<Plan> plan_;
  FrameMeasure last_;
  std::optional<ReportFields> first_;
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_PAIR_METRICS_H_
