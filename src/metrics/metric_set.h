// The metrics of a run, made once from the registry: each frame pair is booked into them
// once, whatever number of reports show them, and the reports read their cells.
#ifndef FRAMECMP_METRICS_METRIC_SET_H_
#define FRAMECMP_METRICS_METRIC_SET_H_

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "metrics/metric.h"
#include "metrics/registry.h"

namespace framecmp {

class MetricSet {
 public:
  // A metric and its cells: the last frame's, the totals', the means'.
  struct Metric {
    std::unique_ptr<MetricValues> values;
    const MetricEntry* entry;
    std::span<Value> frame;
    std::span<Value> total;
    std::span<Value> means;
  };

  // The metrics `choice` includes, for `geometry`, their work shared by `workers` (null:
  // one thread). Keeps references to the geometry and the workers.
  MetricSet(const FrameGeometry& geometry, const MetricChoice& choice, WorkerPool* workers);
  MetricSet(const MetricSet&) = delete;
  MetricSet& operator=(const MetricSet&) = delete;

  const FrameGeometry& geometry() const { return geometry_; }
  std::span<const Metric> metrics() const { return metrics_; }
  // The band work of the metrics that have it, in registry order.
  std::vector<BandedMeasure*> banded() const;
  // Books a frame pair (its band work done). True when a pair's values are then in the
  // frame cells, that pair being ready(): the one booked, or with a delayed metric the one
  // before it (false for the first).
  bool book(const FrameMeasure& measure);
  // After the last pair: true when the last pair booked is still to be given, its values
  // then in the frame cells and the pair ready().
  bool flush();
  // The pair whose values are in the frame cells; its `pair` is null when it was held.
  const FrameMeasure& ready() const { return ready_; }
  // Fills every metric's total and mean cells from the pairs booked so far.
  void pool();
  // True when some metric gives means over the frames.
  bool has_means() const;
  // The value of the column whose JSON key is `json` (the first metric that has it) in
  // `plane` (0 for a frame column), of the last booked pair or of the run; an empty value
  // when no metric has it.
  Value frame_value(std::string_view json, std::size_t plane) const;
  Value total_value(std::string_view json, std::size_t plane) const;

 private:
  const FrameGeometry& geometry_;
  std::vector<Metric> metrics_;
  std::vector<Value> cells_;  // all the metrics' cells, taken once
  // With a delayed metric: the undelayed metrics' values of the held pair.
  std::vector<Value> held_cells_;
  bool delayed_ = false;
  bool holding_ = false;
  FrameMeasure held_;
  FrameMeasure ready_;
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_METRIC_SET_H_
