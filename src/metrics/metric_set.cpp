#include "metrics/metric_set.h"

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
  for (std::unique_ptr<MetricValues>& values : make_metrics(geometry, choice, workers)) {
    cells += cell_count(*values);
    metrics_.push_back({std::move(values), {}, {}, {}});
  }
  cells_.resize(3 * cells);
  std::size_t at = 0;
  for (Metric& metric : metrics_) {
    const std::size_t count = cell_count(*metric.values);
    metric.frame = std::span(cells_).subspan(at, count);
    metric.total = std::span(cells_).subspan(at + cells, count);
    metric.means = std::span(cells_).subspan(at + 2 * cells, count);
    at += count;
  }
}

std::vector<BandedMeasure*> MetricSet::banded() const {
  std::vector<BandedMeasure*> work;
  for (const Metric& metric : metrics_) {
    if (BandedMeasure* const banded = metric.values->banded()) work.push_back(banded);
  }
  return work;
}

void MetricSet::book(const FrameMeasure& measure) {
  for (Metric& metric : metrics_) metric.values->frame(measure, metric.frame);
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
