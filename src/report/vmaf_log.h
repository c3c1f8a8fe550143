// The log of --vmaf-log: the run's libvmaf metrics in the layouts of the vmaf tool's
// log (JSON, CSV or XML), so that scripts that read that tool's logs read framecmp's
// unchanged. Written as the run goes, in constant memory.
#ifndef FRAMECMP_REPORT_VMAF_LOG_H_
#define FRAMECMP_REPORT_VMAF_LOG_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "metrics/metric_set.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"

namespace framecmp {

enum class VmafLogLayout : std::uint8_t { kXml, kJson, kCsv };

// The layout a log's name asks for: ".json", ".csv", else XML.
VmafLogLayout vmaf_log_layout(const std::string& path);

// The number as libvmaf's logs print it: 6 decimals, or 16 for a value whose fraction
// starts with more than 6 zeros.
std::string vmaf_log_number(double value);
// The same at the end of `text`.
void append_vmaf_log_number(std::string& text, double value);

class VmafLog final : public MeasureSink {
 public:
  // Keeps references to `metrics` and `out`; `version` names framecmp's.
  VmafLog(const MetricSet& metrics, VmafLogLayout layout, std::int32_t width, std::int32_t height,
          const char* version, OutputSink& out);
  // False once a write failed.
  bool frame(const FrameMeasure& measure) override;
  void first_difference(const std::optional<ReportFields>& /*first*/) override {}
  // The pooled and aggregate metrics, the version and `fps`; false when a write failed.
  bool finish(double fps);

 private:
  // A libvmaf metric's value column and what is pooled of it over the frames.
  struct Column {
    const char* key;
    const MetricSet::Metric* metric;
    std::size_t cell;
    double min = 0, max = 0, sum = 0, inverse_sum = 0;
  };
  bool write();
  void begin();
  // The ends of the layouts after the frames, the frame rate as written.
  void end_xml(const char* fps);
  void end_json(const char* fps);
  // A column's min, max, mean and harmonic mean over the frames.
  std::array<double, 4> pools(const Column& column) const;
  // The metrics' aggregates the log holds.
  std::vector<PooledValue> aggregates() const;

  std::vector<Column> columns_;
  VmafLogLayout layout_;
  std::int32_t width_;
  std::int32_t height_;
  const char* version_;
  OutputSink& out_;
  const MetricSet& metrics_;
  std::string text_;  // its capacity is kept
  std::int64_t frames_ = 0;
  bool failed_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_VMAF_LOG_H_
