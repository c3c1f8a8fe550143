#include "metrics/metric_set.h"

#include <algorithm>
#include <utility>

namespace framecmp {
namespace {

// The cell of column `json` in `plane` of the first metric in `metrics` that has it.
const Value* find_cell(std::span<const MetricSet::Metric> metrics, const std::string_view json,
                       const std::size_t plane, std::span<Value> MetricSet::Metric::*which) {
  for (const MetricSet::Metric& metric : metrics) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (json == columns[c].json) return &(metric.*which)[3 * c + plane];
    }
  }
  return nullptr;
}

}  // namespace

MetricSet::MetricSet(const FrameGeometry& geometry, const MetricChoice& choice,
                     WorkerPool* const workers)
    : geometry_(geometry) {
  std::size_t cells = 0;
  for (MadeMetric& made : make_metrics(geometry, choice, workers)) {
    cells += cell_count(*made.values);
    metrics_.push_back({std::move(made.values), made.entry, {}, {}, {}});
  }
  cells_.resize(3 * cells);
  std::size_t at = 0;
  for (Metric& metric : metrics_) {
    const std::size_t count = cell_count(*metric.values);
    metric.frame = std::span(cells_).subspan(at, count);
    metric.total = std::span(cells_).subspan(at + cells, count);
    metric.means = std::span(cells_).subspan(at + 2 * cells, count);
    at += count;
    delayed_ = delayed_ || metric.values->delay() > 0;
  }
  if (delayed_) held_cells_.resize(cells);
}

std::vector<BandedMeasure*> MetricSet::banded() const {
  std::vector<BandedMeasure*> work;
  for (const Metric& metric : metrics_) {
    if (BandedMeasure* const banded = metric.values->banded()) work.push_back(banded);
  }
  return work;
}

bool MetricSet::book(const FrameMeasure& measure) {
  if (!delayed_) {
    for (Metric& metric : metrics_) metric.values->frame(measure, metric.frame);
    ready_ = measure;
    return true;
  }
  // The undelayed metrics' values wait beside the held pair for the delayed ones'.
  std::size_t at = 0;
  for (Metric& metric : metrics_) {
    const std::span<Value> held = std::span(held_cells_).subspan(at, metric.frame.size());
    at += metric.frame.size();
    if (metric.values->delay() > 0) {
      metric.values->frame(measure, metric.frame);
      continue;
    }
    std::copy(held.begin(), held.end(), metric.frame.begin());
    metric.values->frame(measure, held);
  }
  const bool was_holding = holding_;
  ready_ = held_;
  held_ = measure;
  held_.pair = nullptr;
  holding_ = true;
  return was_holding;
}

bool MetricSet::flush() {
  if (!holding_) return false;
  std::size_t at = 0;
  for (Metric& metric : metrics_) {
    const std::span<Value> held = std::span(held_cells_).subspan(at, metric.frame.size());
    at += metric.frame.size();
    if (metric.values->delay() > 0) {
      metric.values->flush(metric.frame);
    } else {
      std::copy(held.begin(), held.end(), metric.frame.begin());
    }
  }
  ready_ = held_;
  holding_ = false;
  return true;
}

void MetricSet::pool() {
  for (Metric& metric : metrics_) {
    metric.values->total(metric.total);
    metric.values->means(metric.means);
  }
}

bool MetricSet::has_means() const {
  for (const Metric& metric : metrics_) {
    for (const ColumnSpec& column : metric.values->columns()) {
      if (column.has_mean) return true;
    }
  }
  return false;
}

Value MetricSet::frame_value(const std::string_view json, const std::size_t plane) const {
  const Value* const cell = find_cell(metrics_, json, plane, &Metric::frame);
  return cell != nullptr ? *cell : Value{};
}

Value MetricSet::total_value(const std::string_view json, const std::size_t plane) const {
  for (const Metric& metric : metrics_) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (json != columns[c].json) continue;
      std::vector<Value> cells(cell_count(*metric.values));
      metric.values->total(cells);
      return cells[3 * c + plane];
    }
  }
  return {};
}

}  // namespace framecmp
