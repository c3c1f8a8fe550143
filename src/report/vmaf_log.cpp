#include "report/vmaf_log.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace framecmp {
namespace {

// Zeros between the point and the first other digit of the fraction of `x`.
int fraction_zeros(const double x) {
  const double magnitude = std::fabs(x);
  double fraction = magnitude - static_cast<double>(static_cast<std::int64_t>(magnitude));
  int zeros = 0;
  while (fraction < 1.0 && fraction != 0) {
    fraction *= 10;
    ++zeros;
  }
  return zeros;
}

constexpr const char* kPoolNames[] = {"min", "max", "mean", "harmonic_mean"};

}  // namespace

VmafLogLayout vmaf_log_layout(const std::string& path) {
  if (path.ends_with(".json")) return VmafLogLayout::kJson;
  if (path.ends_with(".csv")) return VmafLogLayout::kCsv;
  return VmafLogLayout::kXml;
}

std::string vmaf_log_number(const double value) {
  std::string text;
  append_vmaf_log_number(text, value);
  return text;
}

void append_vmaf_log_number(std::string& text, const double value) {
  char number[400];
  const int length =
      std::snprintf(number, sizeof number, fraction_zeros(value) <= 6 ? "%.6f" : "%.16f", value);
  text.append(number, static_cast<std::size_t>(std::max(length, 0)));
}

VmafLog::VmafLog(const MetricSet& metrics, const VmafLogLayout layout, const std::int32_t width,
                 const std::int32_t height, const char* const version, OutputSink& out)
    : layout_(layout),
      width_(width),
      height_(height),
      version_(version),
      out_(out),
      metrics_(metrics) {
  // The vmaf tool's order: its features by the order it runs them, then what it gives at
  // the end (temporal features, model scores).
  std::vector<const MetricSet::Metric*> ranked;
  for (const MetricSet::Metric& metric : metrics.metrics()) ranked.push_back(&metric);
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto* a, const auto* b) {
    return a->entry->log_rank < b->entry->log_rank;
  });
  for (const bool late : {false, true}) {
    for (const MetricSet::Metric* metric : ranked) {
      const std::span<const ColumnSpec> columns = metric->values->columns();
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::uint8_t places = columns[c].places;
        if ((places & kInVmafLog) != 0 && ((places & kLateInVmafLog) != 0) == late)
          columns_.push_back({columns[c].json, metric, 3 * c});
      }
    }
  }
  begin();
}

void VmafLog::begin() {
  switch (layout_) {
    case VmafLogLayout::kXml:
      text_ = "<VMAF version=\"" + std::string(version_) + "\">\n  <params qualityWidth=\"" +
              std::to_string(width_) + "\" qualityHeight=\"" + std::to_string(height_) +
              "\" />\n  <frames>\n";
      break;
    case VmafLogLayout::kJson:
      text_ = "{\n  \"frames\": [";
      break;
    case VmafLogLayout::kCsv:
      text_ = "Frame,";
      for (const Column& column : columns_) (text_ += column.key) += ',';
      text_ += '\n';
      break;
  }
}

bool VmafLog::write() {
  if (!failed_ && !out_.write(text_.data(), text_.size())) failed_ = true;
  text_.clear();
  return !failed_;
}

bool VmafLog::frame(const FrameMeasure& /*measure*/) {
  char number[32];
  std::snprintf(number, sizeof number, "%" PRId64, frames_);
  if (layout_ == VmafLogLayout::kXml) ((text_ += "    <frame frameNum=\"") += number) += "\" ";
  if (layout_ == VmafLogLayout::kJson) {
    text_ += frames_ > 0 ? ",\n" : "\n";
    ((text_ += "    {\n      \"frameNum\": ") += number) += ",\n      \"metrics\": {\n";
  }
  if (layout_ == VmafLogLayout::kCsv) (text_ += number) += ",";
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    Column& column = columns_[i];
    const double value = column.metric->frame[column.cell].number;
    column.min = frames_ == 0 || value < column.min ? value : column.min;
    column.max = frames_ == 0 || value > column.max ? value : column.max;
    column.sum += value;
    column.inverse_sum += 1. / (value + 1.);
    const bool last = i + 1 == columns_.size();
    switch (layout_) {
      case VmafLogLayout::kXml:
        (text_ += column.key) += "=\"";
        append_vmaf_log_number(text_, value);
        text_ += "\" ";
        break;
      case VmafLogLayout::kJson:
        ((text_ += "        \"") += column.key) += "\": ";
        if (std::isfinite(value)) {
          append_vmaf_log_number(text_, value);
        } else {
          text_ += "null";
        }
        text_ += last ? "\n" : ",\n";
        break;
      case VmafLogLayout::kCsv:
        append_vmaf_log_number(text_, value);
        text_ += ',';
        break;
    }
  }
  if (layout_ == VmafLogLayout::kXml) text_ += "/>\n";
  if (layout_ == VmafLogLayout::kJson) text_ += "      }\n    }";
  if (layout_ == VmafLogLayout::kCsv) text_ += "\n";
  ++frames_;
  return write();
}

std::array<double, 4> VmafLog::pools(const Column& column) const {
  const auto frames = static_cast<double>(frames_);
  return {column.min, column.max, column.sum / frames, frames / column.inverse_sum - 1.0};
}

std::vector<PooledValue> VmafLog::aggregates() const {
  std::vector<PooledValue> aggregates;
  for (const MetricSet::Metric& metric : metrics_.metrics()) {
    for (const PooledValue& value : metric.values->pooled()) {
      if (value.in_vmaf_log) aggregates.push_back(value);
    }
  }
  return aggregates;
}

void VmafLog::end_xml(const char* const fps) {
  text_ += "  </frames>\n  <pooled_metrics>\n";
  for (const Column& column : columns_) {
    text_ += "    <metric name=\"" + std::string(column.key) + "\" ";
    if (frames_ > 0) {
      const std::array<double, 4> pooled = pools(column);
      for (std::size_t k = 0; k < 4; ++k) {
        text_ += std::string(kPoolNames[k]) + "=\"" + vmaf_log_number(pooled[k]) + "\" ";
      }
    }
    text_ += "/>\n";
  }
  text_ += "  </pooled_metrics>\n  <aggregate_metrics ";
  for (const PooledValue& value : aggregates()) {
    text_ += std::string(value.json) + "=\"" + vmaf_log_number(value.value) + "\" ";
  }
  text_ += "/>\n  <fyi fps=\"" + std::string(fps) + "\" />\n</VMAF>\n";
}

void VmafLog::end_json(const char* const fps) {
  const auto json_number = [](const double value) {
    return std::isfinite(value) ? vmaf_log_number(value) : std::string("null");
  };
  text_ += "\n  ],\n  \"pooled_metrics\": {";
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    text_ += i > 0 ? ",\n" : "\n";
    text_ += "    \"" + std::string(columns_[i].key) + "\": {";
    if (frames_ > 0) {
      const std::array<double, 4> pooled = pools(columns_[i]);
      for (std::size_t k = 0; k < 4; ++k) {
        text_ += k > 0 ? ",\n" : "\n";
        text_ += "      \"" + std::string(kPoolNames[k]) + "\": " + json_number(pooled[k]);
      }
    }
    text_ += "\n    }";
  }
  text_ += "\n  },\n  \"aggregate_metrics\": {";
  const std::vector<PooledValue> values = aggregates();
  for (std::size_t i = 0; i < values.size(); ++i) {
    text_ += "\n    \"" + std::string(values[i].json) + "\": " + json_number(values[i].value);
    if (i + 1 < values.size()) text_ += ",";
  }
  text_ += "\n  },\n  \"version\": \"" + std::string(version_) + "\",\n  \"fps\": " + fps + "\n}\n";
}

bool VmafLog::finish(const double fps) {
  // JSON has no word for a rate that is not a number; the XML attribute says it as printf.
  char fps_text[64];
  std::snprintf(fps_text, sizeof fps_text, "%.2f", fps);
  if (layout_ == VmafLogLayout::kXml) end_xml(fps_text);
  if (layout_ == VmafLogLayout::kJson) end_json(std::isfinite(fps) ? fps_text : "null");
  return write();
}

}  // namespace framecmp
