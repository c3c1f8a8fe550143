#include "report/measure_report.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>

#include "report/run_summary.h"

namespace framecmp {
namespace {

// Text handed on once this much has gathered: large writes, and a bound on memory.
constexpr std::size_t kJsonBlock = std::size_t{64} << 10;

// printf at the end of `line`; for the few cells of a line.
void append_format(std::string& line, const char* const format, ...)
    __attribute__((format(printf, 2, 3)));
void append_format(std::string& line, const char* const format, ...) {
  char cell[64];
  va_list arguments;
  va_start(arguments, format);
  const int written = std::vsnprintf(cell, sizeof cell, format, arguments);
  va_end(arguments);
  line.append(cell, static_cast<std::size_t>(std::clamp(written, 0, 63)));
}

// A number in `width` columns with `decimals` decimals: "-" for NaN (no value), "inf".
void append_decimals(std::string& line, const int width, const int decimals, const double value) {
  if (std::isnan(value)) return append_format(line, "%*s", width, "-");
  if (std::isinf(value)) return append_format(line, "%*s", width, "inf");
  append_format(line, "%*.*f", width, decimals, value);
}

// One value of a column as the text report shows it.
void append_text_value(std::string& line, const ColumnSpec& column, const Value& value) {
  switch (column.kind) {
    case ValueKind::kCount:
    case ValueKind::kSum:
      return append_format(line, "%*" PRIu64, column.width, value.sum.low);
    case ValueKind::kDecibels:
      return append_decimals(line, column.width, 2, value.number);
    case ValueKind::kFraction:
      return append_decimals(line, column.width, 6, value.number);
  }
}

// A column's heading, its '@' the plane's letter, right-aligned in its width.
void append_heading(std::string& line, const ColumnSpec& column, const char letter) {
  char heading[64];
  std::size_t length = 0;
  for (const char* c = column.heading; *c != '\0' && length + 1 < sizeof heading; ++c) {
    heading[length++] = *c == '@' ? letter : *c;
  }
  heading[length] = '\0';
  append_format(line, "%*s", column.width, heading);
}

// --- JSON, by hand: nothing is allocated per frame ----------------------------------------

// --- JSON, by hand: nothing is allocated per frame ----------------------------------------

void append_integer(std::string& text, const std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

// The shortest text that reads back as `value`; null for +infinity (no PSNR).
void append_number(std::string& text, const double value) {
  if (!std::isfinite(value)) {
    text += "null";
    return;
  }
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

void append_sse(std::string& text, const SseTotal& sse) {
  // Exact while it fits 64 bits; beyond, a JSON number as near as a double gets.
  if (sse.fits_64_bits()) {
    append_integer(text, sse.low);
  } else {
    append_number(text, sse.value());
  }
}

// A new line, `indent` blanks and "key": , after the comma that ends the member before
// (none after an opening brace or bracket).
void append_key(std::string& text, const int indent, const char* const key) {
  if (!text.empty() && text.back() != '{' && text.back() != '[') text += ',';
  text += '\n';
  text.append(static_cast<std::size_t>(indent), ' ');
  text += '"';
  text += key;
  text += "\": ";
}

// A member whose value is a non-negative integer.
void append_member(std::string& text, const int indent, const char* const key,
                   const std::uint64_t value) {
  append_key(text, indent, key);
  append_integer(text, value);
}

// A member whose value is JSON text already.
void append_json_member(std::string& text, const int indent, const char* const key,
                        const std::string_view json) {
  append_key(text, indent, key);
  text += json;
}

// A plane's letter as a JSON string.
std::string_view letter_json(const char letter, char (&json)[4]) {
  json[0] = '"';
  json[1] = letter;
  json[2] = '"';
  json[3] = '\0';
  return {json, 3};
}

// A string as JSON writes it; bytes that are not UTF-8 become U+FFFD.
std::string json_string(const std::string& value) {
  return nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A key with a number value (null for NaN and infinity).
void append_number_member(std::string& text, const int indent, const char* const key,
                          const double value) {
  append_key(text, indent, key);
  append_number(text, value);
}

// The object of plane `p` of `row`, opened at `indent` blanks; `psnr_mean`, when set, is

// One value of a column as JSON writes it.
void append_json_value(std::string& text, const ColumnSpec& column, const Value& value) {
  switch (column.kind) {
    case ValueKind::kCount:
      return append_integer(text, value.sum.low);
    case ValueKind::kSum:
      return append_sse(text, value.sum);
    case ValueKind::kDecibels:
    case ValueKind::kFraction:
      return append_number(text, value.number);
  }
}

// "KEY_mean": the mean of a column.
void append_mean_member(std::string& text, const int indent, const ColumnSpec& column,
                        const Value& mean) {
  char key[64];
  std::snprintf(key, sizeof key, "%s_mean", column.json);
  append_number_member(text, indent, key, mean.number);
}

// A pooled value as a member at indent 2: a number, or an object with its frame.
void append_pooled_member(std::string& text, const PooledValue& pooled) {
  append_key(text, 2, pooled.json);
  if (!pooled.names_frame) return append_number(text, pooled.value);
  if (pooled.frame < 0) {
    text += "null";
    return;
  }
  text += "{ \"frame\": ";
  append_integer(text, static_cast<std::uint64_t>(pooled.frame));
  text += ", \"";
  text += pooled.value_key;
  text += "\": ";
  append_number(text, pooled.value);
  text += " }";
}

// --- CSV ----------------------------------------------------------------------------------

void append_csv_integer(std::string& row, const std::uint64_t value) {
  row += ',';
  append_integer(row, value);
}

// 17 significant digits, so that the number reads back exactly; "inf" for infinity, an
// empty cell for no value.
void append_csv_number(std::string& row, const double value) {
  row += ',';
  if (std::isnan(value)) return;
  if (std::isinf(value)) {
    row += value > 0 ? "inf" : "-inf";
    return;
  }
  char digits[40];
  const int length = std::snprintf(digits, sizeof digits, "%.17g", value);
  row.append(digits, static_cast<std::size_t>(length));
}

void append_csv_sse(std::string& row, const SseTotal& sse) {
  if (sse.fits_64_bits()) {
    append_csv_integer(row, sse.low);
  } else {
    append_csv_number(row, sse.value());
  }
}

const char* ending_name(const RunEnd end) {
  switch (end) {
    case RunEnd::kTestShorter:
      return "test_shorter";
    case RunEnd::kRefShorter:
      return "ref_shorter";
    case RunEnd::kFramesLimit:
      return "frames_limit";
    case RunEnd::kLimitReached:  // MAX_COUNT block entries were written (--report=blocks)
      return "max_count";
    default:
      return "together";
  }
}

// One value of a column as a CSV cell, after its comma.
void append_csv_value(std::string& row, const ColumnSpec& column, const Value& value) {
  switch (column.kind) {
    case ValueKind::kCount:
      return append_csv_integer(row, value.sum.low);
    case ValueKind::kSum:
      return append_csv_sse(row, value.sum);
    case ValueKind::kDecibels:
    case ValueKind::kFraction:
      return append_csv_number(row, value.number);
  }
}

// A cell of a column in a row of the text and CSV reports.
struct Cell {
  const ColumnSpec& column;
  char letter;        // of its plane; 0 for a frame column
  std::size_t index;  // in its metric's cells
};

// Calls `visit` with each cell of `metrics` that has a column in `place`, in the order of
// the text and CSV reports: per metric, its plane columns plane by plane, then its frame
// columns; `visit` is told the metric too.
template <class Metrics, class Visit>
void for_each_cell(const Metrics& metrics, const FrameGeometry& geometry, const ColumnPlace place,
                   Visit&& visit) {
  for (const auto& metric : metrics) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t p = 0; p < geometry.plane_count; ++p) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].per_plane && (columns[c].places & place) != 0) {
          visit(metric, Cell{columns[c], geometry.planes[p].letter, 3 * c + p});
        }
      }
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (!columns[c].per_plane && (columns[c].places & place) != 0) {
        visit(metric, Cell{columns[c], '\0', 3 * c});
      }
    }
  }
}

}  // namespace

bool MeasureTotals::any_column_in(const std::uint8_t place) const {
  for (const Metric& metric : metrics_) {
    for (const ColumnSpec& column : metric.values->columns()) {
      if ((column.places & place) != 0) return true;
    }
  }
  return false;
}

bool RowMeasureReport::write_line() {
  if (!failed_ && !out_.write(line_.data(), line_.size())) failed_ = true;
  return !failed_;
}

bool RowMeasureReport::frame(const FrameMeasure& measure) {
  if (!per_frame_) return true;
  if (!heading_written_) {
    heading_written_ = true;
    make_heading(line_);
    if (!write_line()) return false;
  }
  make_row(line_, measure.frame, &Metric::frame);
  return write_line();
}

bool RowMeasureReport::finish(const bool failed) {
  if (failed) return !failed_;
  // The heading and the totals row are there even when no frame was compared, so that a
  // script always finds them.
  if (!heading_written_) {
    make_heading(line_);
    write_line();
  }
  pool();
  make_row(line_, -1, &Metric::total);
  write_line();
  if (!has_means()) return !failed_;
  make_row(line_, -2, &Metric::means);
  return write_line();
}

// "frame", then every text column's heading. A 1920x1080 line with PSNR, its poolings and
// SSIM takes 150 characters; the metrics that would make it longer go on a second line.
void TextMeasureReport::make_heading(std::string& line) const {
  line = "frame";
  for_each_cell(metrics_, geometry_, kInText, [&](const Metric&, const Cell& cell) {
    append_heading(line, cell.column, cell.letter);
  });
  if (has_below_) line += "\n     ";
  for_each_cell(metrics_, geometry_, kInTextBelow, [&](const Metric&, const Cell& cell) {
    append_heading(line, cell.column, cell.letter);
  });
  line += '\n';
}

void TextMeasureReport::make_row(std::string& line, const std::int64_t frame,
                                 std::span<Value> Metric::*const which) const {
  if (frame == -2) return make_means(line);
  if (frame == -1) {
    line = "total";
  } else {
    line.clear();
    append_format(line, "%5" PRId64, frame);
  }
  for_each_cell(metrics_, geometry_, kInText, [&](const Metric& metric, const Cell& cell) {
    append_text_value(line, cell.column, (metric.*which)[cell.index]);
  });
  if (has_below_) line += "\n     ";
  for_each_cell(metrics_, geometry_, kInTextBelow, [&](const Metric& metric, const Cell& cell) {
    append_text_value(line, cell.column, (metric.*which)[cell.index]);
  });
  line += '\n';
}

// The means under their columns (blank under the others, up to the last mean), then the
// pooled values.
void TextMeasureReport::make_means(std::string& line) const {
  std::size_t cells = 0;
  std::size_t last = 0;
  for_each_cell(metrics_, geometry_, kInText, [&](const Metric&, const Cell& cell) {
    ++cells;
    if (cell.column.has_mean) last = cells;
  });
  line = "mean ";
  std::size_t at = 0;
  for_each_cell(metrics_, geometry_, kInText, [&](const Metric& metric, const Cell& cell) {
    if (++at > last) return;
    if (!cell.column.has_mean) return append_format(line, "%*s", cell.column.width, "");
    append_text_value(line, cell.column, metric.means[cell.index]);
  });
  for (const Metric& metric : metrics_) {
    for (const PooledValue& pooled : metric.values->pooled()) {
      if (pooled.names_frame && pooled.frame < 0) continue;
      append_format(line, "  %s ", pooled.label);
      append_decimals(line, 0, 2, pooled.value);
      if (pooled.names_frame) append_format(line, " (frame %" PRId64 ")", pooled.frame);
    }
  }
  line += '\n';
}

void append_json_integer_member(std::string& text, const int indent, const char* const key,
                                const std::uint64_t value) {
  append_member(text, indent, key, value);
}

void append_json_head(std::string& text, const RunHeader& s) {
  text += "{";
  append_json_member(text, 2, "test", json_string(s.test_path));
  append_json_member(text, 2, "ref", json_string(s.ref_path));
  append_member(text, 2, "width", static_cast<std::uint64_t>(s.width));
  append_member(text, 2, "height", static_cast<std::uint64_t>(s.height));
  append_json_member(text, 2, "pix_fmt", json_string(s.format.name));
  append_member(text, 2, "bit_depth", s.format.depth);
  for (const auto& [key, own] :
       {std::pair{"test_pix_fmt", &s.test_format}, std::pair{"ref_pix_fmt", &s.ref_format}}) {
    if (*own && (*own)->name != s.format.name)
      append_json_member(text, 2, key, json_string((*own)->name));
  }
  append_member(text, 2, "block", static_cast<std::uint64_t>(s.block_size));
  append_member(text, 2, "tolerance", static_cast<std::uint64_t>(s.tolerance));
  append_member(text, 2, "skip_test", static_cast<std::uint64_t>(s.skip_test));
  append_member(text, 2, "skip_ref", static_cast<std::uint64_t>(s.skip_ref));
  append_key(text, 2, "frames_limit");
  if (s.frames_limit > 0) {
    append_integer(text, static_cast<std::uint64_t>(s.frames_limit));
  } else {
    text += "null";
  }
}

void append_json_verdict(std::string& text, const ComparisonOutcome& outcome) {
  append_key(text, 2, "verdict");
  text += '"';
  text += verdict_name(verdict_of(outcome));
  text += '"';
  append_key(text, 2, "ending");
  text += '"';
  text += ending_name(outcome.end);
  text += '"';
  append_member(text, 2, "frames_compared", static_cast<std::uint64_t>(outcome.frames_compared));
}

void append_json_first_difference(std::string& text, const std::optional<ReportFields>& first) {
  append_key(text, 2, "first_difference");
  if (const std::optional<ReportFields>& f = first; f) {
    text += "{";
    char letter_text[4];
    append_member(text, 4, "frame", static_cast<std::uint64_t>(f->frame));
    append_json_member(text, 4, "plane", letter_json(f->plane_letter, letter_text));
    append_member(text, 4, "row", static_cast<std::uint64_t>(f->position.row));
    append_member(text, 4, "column", static_cast<std::uint64_t>(f->position.column));
    append_member(text, 4, "block", static_cast<std::uint64_t>(f->position.block));
    append_member(text, 4, "test", f->test_sample);
    append_member(text, 4, "ref", f->ref_sample);
    text += "\n  }";
  } else {
    text += "null";
  }
}

JsonMeasureReport::JsonMeasureReport(MetricSet& metrics, const bool per_frame,
                                     const RunHeader& header, OutputSink& out)
    : MeasureTotals(metrics), per_frame_(per_frame), header_(header), out_(out) {
  text_.reserve(2 * kJsonBlock);
  begin();
}

void JsonMeasureReport::begin() {
  append_json_head(text_, header_);
  if (per_frame_) {
    append_key(text_, 2, "frames");
    text_ += "[";
  }
}

bool JsonMeasureReport::flush() {
  if (!failed_ && !text_.empty() && !out_.write(text_.data(), text_.size())) failed_ = true;
  text_.clear();
  return !failed_;
}

void JsonMeasureReport::append_plane(const int indent, const std::size_t p,
                                     std::span<Value> Metric::*const which, const bool means) {
  text_ += '\n';
  text_.append(static_cast<std::size_t>(indent), ' ');
  text_ += "{";
  char letter_text[4];
  append_json_member(text_, indent + 2, "plane",
                     letter_json(geometry_.planes[p].letter, letter_text));
  for (const Metric& metric : metrics_) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const ColumnSpec& column = columns[c];
      if (!column.per_plane || (column.places & kInJson) == 0) continue;
      append_key(text_, indent + 2, column.json);
      append_json_value(text_, column, (metric.*which)[3 * c + p]);
      if (means && column.has_mean) {
        append_mean_member(text_, indent + 2, column, metric.means[3 * c + p]);
      }
    }
  }
  text_ += '\n';
  text_.append(static_cast<std::size_t>(indent), ' ');
  text_ += '}';
}

void JsonMeasureReport::append_values(const int indent, std::span<Value> Metric::*const which,
                                      const bool means) {
  append_key(text_, indent, "planes");
  text_ += '[';
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    append_plane(indent + 2, p, which, means);
    if (p + 1 < geometry_.plane_count) text_ += ',';
  }
  text_ += '\n';
  text_.append(static_cast<std::size_t>(indent), ' ');
  text_ += ']';
  for (const Metric& metric : metrics_) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].per_plane || (columns[c].places & kInJson) == 0) continue;
      append_key(text_, indent, columns[c].json);
      append_json_value(text_, columns[c], (metric.*which)[3 * c]);
    }
  }
  if (!means) return;
  for (const Metric& metric : metrics_) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const ColumnSpec& column = columns[c];
      if (column.per_plane || (column.places & kInJson) == 0 || !column.has_mean) continue;
      append_mean_member(text_, indent, column, metric.means[3 * c]);
    }
    for (const PooledValue& pooled : metric.values->pooled()) append_pooled_member(text_, pooled);
  }
}

bool JsonMeasureReport::frame(const FrameMeasure& measure) {
  if (!per_frame_) return !failed_;
  text_ += frames_written_ > 0 ? ",\n    {" : "\n    {";
  ++frames_written_;
  append_member(text_, 6, "frame", static_cast<std::uint64_t>(measure.frame));
  append_values(6, &Metric::frame, false);
  text_ += "\n    }";
  if (text_.size() >= kJsonBlock) return flush();
  return !failed_;
}

bool JsonMeasureReport::finish(const ComparisonOutcome& outcome) {
  if (per_frame_) text_ += frames_written_ > 0 ? "\n  ]" : "]";
  append_json_verdict(text_, outcome);
  pool();
  append_values(2, &Metric::total, true);
  append_json_first_difference(text_, first());
  text_ += "\n}\n";
  return flush();
}

// "frame", then every CSV column: a plane's as its letter, "_" and the name.
void CsvMeasureReport::make_heading(std::string& line) const {
  line = "frame";
  for_each_cell(metrics_, geometry_, kInCsv, [&](const Metric&, const Cell& cell) {
    line += ',';
    if (cell.letter != '\0') (line += static_cast<char>(cell.letter - 'A' + 'a')) += '_';
    line += cell.column.csv;
  });
  line += "\r\n";
}

void CsvMeasureReport::make_row(std::string& line, const std::int64_t frame,
                                std::span<Value> Metric::*const which) const {
  const bool means = frame == -2;
  if (frame < 0) {
    line = means ? "mean" : "total";
  } else {
    line.clear();
    append_format(line, "%" PRId64, frame);
  }
  for_each_cell(metrics_, geometry_, kInCsv, [&](const Metric& metric, const Cell& cell) {
    // The means under their columns; the other cells are empty.
    if (means && !cell.column.has_mean) {
      line += ',';
      return;
    }
    append_csv_value(line, cell.column, (metric.*which)[cell.index]);
  });
  line += "\r\n";
}

}  // namespace framecmp
