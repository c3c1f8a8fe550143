// What a metric shows in the frames and summary reports: its columns, described once, and
// its values for each frame pair and pooled over the run. The text, CSV and JSON writers
// iterate the columns; none of them knows a metric.
#ifndef FRAMECMP_METRICS_METRIC_H_
#define FRAMECMP_METRICS_METRIC_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "input/pair_reader.h"
#include "metrics/sample_kernels.h"

namespace framecmp {

// The statistics of one frame pair, plane by plane (Y, U, V; only Y for grey).
struct FrameMeasure {
  std::int64_t frame = 0;  // the test file's index
  std::array<SampleStats, 3> planes{};
  // The pair itself, for a metric that works on its samples; valid while a sink takes
  // the frame, null where a frame was made without one.
  const FramePair* pair = nullptr;
};

// Work a metric does on a pair's samples band by band, beside the statistics: the
// statistics take the first such metric's bands as theirs, so that a band's samples are
// still in the cache when the metric reads them.
class BandedMeasure {
 public:
  // Sample rows [first_row, end_row) of a plane, 0-based.
  struct Rows {
    std::size_t plane;
    std::int64_t first_row;
    std::int64_t end_row;
  };
  virtual ~BandedMeasure() = default;
  // The bands, plane by plane, each plane's in row order; a plane may have none. Fixed for
  // the run.
  virtual std::span<const Rows> bands() const = 0;
  // Measures band `i` of `pair` (any order, any thread); planes whose `equal` is true are
  // known to be equal.
  virtual void measure_band(std::size_t i, const FramePair& pair,
                            const std::array<bool, 3>& equal) = 0;
  // After every band of the pair (or none, when `equal` holds for every plane): takes
  // the pair's values.
  virtual void collect(const std::array<bool, 3>& equal) = 0;
};

// A sum over a whole run, kept exact: 64 bits are passed after about 4.3 * 10^9 samples
// that differ by 65535 (2,100 frames of 16-bit 1080p).
struct SseTotal {
  std::uint64_t high = 0;  // the multiples of 2^64
  std::uint64_t low = 0;

  void add(const std::uint64_t value) {
    low += value;
    high += low < value ? 1 : 0;
  }
  void add(const SseTotal& other) {
    add(other.low);
    high += other.high;
  }
  bool fits_64_bits() const { return high == 0; }
  double value() const { return static_cast<double>(high) * 0x1p64 + static_cast<double>(low); }
};

// How a column's values are written.
enum class ValueKind : std::uint8_t {
  kCount,     // a whole number: text %N, CSV and JSON digits
  kSum,       // an exact sum past 64 bits: digits while it fits, else the nearest double
  kDecibels,  // text "%.2f" ("inf"; "-" for no value); CSV 17 digits; JSON null when not finite
  kFraction,  // text "%.6f" ("inf"; "-"); CSV 17 digits; JSON null when not finite
};

// Where a column is written.
enum ColumnPlace : std::uint8_t {
  kInText = 1,
  kInCsv = 2,
  kInJson = 4,
  kEverywhere = kInText | kInCsv | kInJson,
  // In the text on a second line of each row, under a heading line of its own, so that a
  // row with many metrics stays readable.
  kInTextBelow = 8,
  // In the log of --vmaf-log: a libvmaf feature's value, under its key.
  kInVmafLog = 16,
  // In that log after every column without it, as libvmaf writes the values it can give
  // only at the end (its temporal features and model scores).
  kLateInVmafLog = 32,
  kBelowEverywhere = kInTextBelow | kInCsv | kInJson | kInVmafLog,
};

// One column of a metric. A column per plane has a value for each plane (its CSV name
// after the plane's letter and "_", its text heading with '@' for the letter); a frame
// column has one.
struct ColumnSpec {
  const char* json;     // the key in JSON
  const char* csv;      // the CSV header
  const char* heading;  // the text heading, right-aligned in `width` columns
  int width;            // of the text column
  ValueKind kind;
  bool per_plane;
  std::uint8_t places;  // ColumnPlace bits
  bool has_mean;        // a mean over the frames is given for it (the means row)
};

// One value of a column: exact in `sum` for kCount and kSum, else `number` (NaN: none).
struct Value {
  SseTotal sum;
  double number = 0;
};

// A pooled value beside the means, written after them: text "  LABEL VALUE", with
// " (frame N)" when it names a frame; JSON "KEY": VALUE, or { "frame": N, "VALUE_KEY":
// VALUE } when it names one (null without a frame). Written as decibels.
struct PooledValue {
  const char* json;
  const char* label;
  const char* value_key;  // in the JSON object of a value that names a frame
  double value;
  bool names_frame;          // an extreme of the run: the frame it was found in
  std::int64_t frame;        // the test file's index; -1 when there was no frame
  bool in_vmaf_log = false;  // one of libvmaf's aggregate metrics, under its key
};

// A metric of the frames and summary reports: its columns, and its values for each frame
// pair and for the run. Values go into cells, three a column (one a plane; a frame column
// uses the first), in the order of columns().
class MetricValues {
 public:
  virtual ~MetricValues() = default;
  virtual std::span<const ColumnSpec> columns() const = 0;
  // The values of the pair `measure` into `cells`, and the pair booked into the totals.
  virtual void frame(const FrameMeasure& measure, std::span<Value> cells) = 0;
  // The values over every booked pair into `cells`.
  virtual void total(std::span<Value> cells) const = 0;
  // The means over the frames of the columns that have them (has_mean), into `cells`.
  virtual void means(std::span<Value> /*cells*/) const {}
  // What is written after the means; nothing for most metrics.
  virtual std::vector<PooledValue> pooled() const { return {}; }
  // The metric's work beside the statistics, if it has any; it is done before frame().
  virtual BandedMeasure* banded() { return nullptr; }
  // How many pairs late the values come: 0, or 1 for a metric that needs the pair after
  // (frame() then gives the values of the pair booked before it, none for the first).
  virtual int delay() const { return 0; }
  // After the last pair: a delayed metric's values of the last pair booked, into `cells`.
  virtual void flush(std::span<Value> /*cells*/) {}
};

// A metric whose columns are all frame columns and whose totals are their means over the
// frames, as libvmaf pools its features: it gives each pair's values, and the booking and
// the means are done here.
class FrameMeansMetric : public MetricValues {
 public:
  static constexpr std::size_t kMaxColumns = 8;

  void frame(const FrameMeasure& measure, const std::span<Value> cells) final {
    measure_pair(measure, cells);
    for (std::size_t c = 0; c < columns().size(); ++c) sums_[c] += cells[3 * c].number;
    ++frames_;
  }
  // NaN before any frame.
  void total(const std::span<Value> cells) const final {
    for (std::size_t c = 0; c < columns().size(); ++c) {
      cells[3 * c].number = frames_ > 0 ? sums_[c] / static_cast<double>(frames_)
                                        : std::numeric_limits<double>::quiet_NaN();
    }
  }

 protected:
  // The pair's value of each column c into cells[3 * c].number (NaN: none); at most
  // kMaxColumns columns.
  virtual void measure_pair(const FrameMeasure& measure, std::span<Value> cells) = 0;

 private:
  std::array<double, kMaxColumns> sums_{};
  std::uint64_t frames_ = 0;
};

// Cells a metric's values take: three a column.
inline std::size_t cell_count(const MetricValues& metric) {
  return 3 * metric.columns().size();
}

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_METRIC_H_
