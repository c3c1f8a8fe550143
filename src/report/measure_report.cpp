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

// "%.2f" of a PSNR, or "inf", into `text`.
void psnr_text(const double value, char (&text)[32]) {
  if (std::isinf(value)) {
    std::snprintf(text, sizeof text, "inf");
  } else {
    std::snprintf(text, sizeof text, "%.2f", value);
  }
}

std::uint64_t plane_samples(const PlaneLayout& plane) {
  return static_cast<std::uint64_t>(plane.width) * static_cast<std::uint64_t>(plane.height);
}

// Appends to the line of `size` bytes at `line`, after its first `used` bytes; returns
// the bytes used then.
int append_text(char* const line, const std::size_t size, const int used, const char* const format,
                ...) __attribute__((format(printf, 4, 5)));
int append_text(char* const line, const std::size_t size, const int used, const char* const format,
                ...) {
  const auto at = static_cast<std::size_t>(used);
  va_list arguments;
  va_start(arguments, format);
  const int written = std::vsnprintf(line + at, size - at, format, arguments);
  va_end(arguments);
  return used + std::max(written, 0);
}

// A PSNR in `width` columns with two decimals: "inf", or "-" for no value.
int append_psnr(char* const line, const std::size_t size, const int used, const int width,
                const double value) {
  char text[32];
  if (std::isnan(value)) {
    std::snprintf(text, sizeof text, "-");
  } else {
    psnr_text(value, text);
  }
  return append_text(line, size, used, "%*s", width, text);
}

// `value` with six decimals in `width` columns: "-" for NaN (no value), "inf".
int append_fixed6(char* const line, const std::size_t size, const int used, const int width,
                  const double value) {
  if (std::isnan(value)) return append_text(line, size, used, "%*s", width, "-");
  if (std::isinf(value)) return append_text(line, size, used, "%*s", width, "inf");
  return append_text(line, size, used, "%*.6f", width, value);
}

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

// The object of one plane's statistics, opened at `indent` blanks.
// A key with a number value (null for NaN and infinity).
void append_number_member(std::string& text, const int indent, const char* const key,
                          const double value) {
  append_key(text, indent, key);
  append_number(text, value);
}

// The object of plane `p` of `row`, opened at `indent` blanks; `psnr_mean`, when set, is
// the plane's mean PSNR over the frames.
void append_plane(std::string& text, const int indent, const char letter, const ReportRow& row,
                  const std::size_t p, const ReportColumns& columns,
                  const double* const psnr_mean) {
  text += '\n';
  text.append(static_cast<std::size_t>(indent), ' ');
  text += "{";
  char letter_text[4];
  append_json_member(text, indent + 2, "plane", letter_json(letter, letter_text));
  append_member(text, indent + 2, "differing", row.beyond[p]);
  append_member(text, indent + 2, "max_abs_diff", row.max_abs[p]);
  append_key(text, indent + 2, "sse");
  append_sse(text, row.sse[p]);
  append_number_member(text, indent + 2, "psnr", row.psnr[p]);
  if (psnr_mean != nullptr) append_number_member(text, indent + 2, "psnr_mean", *psnr_mean);
  if (columns.ssim) append_number_member(text, indent + 2, "ssim", row.ssim[p]);
  text += '\n';
  text.append(static_cast<std::size_t>(indent), ' ');
  text += '}';
}

// The planes of `row` as the array "planes", then the members after it: psnr_all with the
// poolings, ssim_all and ssim_db with SSIM.
void append_row(std::string& text, const int indent, const FrameGeometry& geometry,
                const ReportRow& row, const ReportColumns& columns,
                const PsnrPooling* const pooling) {
  append_key(text, indent, "planes");
  text += '[';
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    append_plane(text, indent + 2, geometry.planes[p].letter, row, p, columns,
                 pooling != nullptr ? &pooling->mean[p] : nullptr);
    if (p + 1 < geometry.plane_count) text += ',';
  }
  text += '\n';
  text.append(static_cast<std::size_t>(indent), ' ');
  text += ']';
  if (columns.pooling) append_number_member(text, indent, "psnr_all", row.psnr_all);
  if (columns.ssim) {
    append_number_member(text, indent, "ssim_all", row.ssim_all);
    append_number_member(text, indent, "ssim_db", row.ssim_db);
  }
}

// The poolings of the totals: the mean PSNR all, 6:1:1, and the lowest and highest frame.
void append_pooling(std::string& text, const PsnrPooling& pooling) {
  append_number_member(text, 2, "psnr_all_mean", pooling.all_mean);
  append_number_member(text, 2, "psnr_611", pooling.weighted_611);
  const auto extreme = [&](const char* const key, const std::int64_t frame, const double value) {
    append_key(text, 2, key);
    if (frame < 0) {
      text += "null";
      return;
    }
    text += "{ \"frame\": ";
    append_integer(text, static_cast<std::uint64_t>(frame));
    text += ", \"psnr\": ";
    append_number(text, value);
    text += " }";
  };
  extreme("psnr_min", pooling.lowest_frame, pooling.lowest);
  extreme("psnr_max", pooling.highest_frame, pooling.highest);
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

}  // namespace

double psnr(const double max, const std::uint64_t samples, const double sse) {
  if (sse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(max * max * static_cast<double>(samples) / sse);
}

double combined_ssim(const FrameGeometry& geometry, const FrameSsim& ssim) {
  std::uint64_t samples = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p)
    samples += plane_samples(geometry.planes[p]);
  // Weighed by the counts and divided once: weights of 4/6 and 1/6 would sum to a hair
  // under 1, and equal frames would get a finite dB.
  double all = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    if (!ssim.has[p]) return std::numeric_limits<double>::quiet_NaN();
    all += static_cast<double>(plane_samples(geometry.planes[p])) * ssim.plane[p];
  }
  return all / static_cast<double>(samples);
}

double ssim_db(const double ssim) {
  if (ssim >= 1) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(1.0 / (1.0 - ssim));
}

MeasureTotals::MeasureTotals(const FrameGeometry& geometry, const ReportColumns columns)
    : geometry_(geometry), columns_(columns) {
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    frame_samples_ += plane_samples(geometry.planes[p]);
  }
}

namespace {

double capped(const double psnr_value) {
  return std::isinf(psnr_value) ? kPsnrCap : psnr_value;
}

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

}  // namespace

ReportRow MeasureTotals::frame_row(const FrameMeasure& measure) const {
  ReportRow row;
  std::uint64_t sse_all = 0;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const SampleStats& stats = measure.planes[p];
    row.beyond[p] = stats.beyond;
    row.max_abs[p] = value_difference(geometry_, stats.max_abs);
    row.sse[p].add(stats.sse);
    row.psnr[p] = psnr(sample_peak(geometry_), plane_samples(geometry_.planes[p]),
                       static_cast<double>(stats.sse));
    row.ssim[p] = measure.ssim.has[p] ? measure.ssim.plane[p] : kNoValue;
    sse_all += stats.sse;  // fits: a frame has under 2^31 samples, each square under 2^32
  }
  row.psnr_all = psnr(sample_peak(geometry_), frame_samples_, static_cast<double>(sse_all));
  row.ssim_all = combined_ssim(geometry_, measure.ssim);
  row.ssim_db = std::isnan(row.ssim_all) ? kNoValue : ssim_db(row.ssim_all);
  return row;
}

bool MeasureTotals::frame(const FrameMeasure& measure) {
  book(measure);
  return true;
}

ReportRow MeasureTotals::book(const FrameMeasure& measure) {
  ReportRow row = frame_row(measure);
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    PlaneTotals& total = totals_[p];
    const SampleStats& stats = measure.planes[p];
    total.beyond += stats.beyond;
    total.max_abs = std::max(total.max_abs, stats.max_abs);
    total.sse.add(stats.sse);
    total.samples += plane_samples(geometry_.planes[p]);
    if (measure.ssim.has[p]) total.ssim_sum += measure.ssim.plane[p];
    total.psnr_sum += capped(row.psnr[p]);
  }
  if (columns_.ssim) ssim_all_sum_ += row.ssim_all;
  psnr_all_sum_ += capped(row.psnr_all);
  if (frames_ == 0 || row.psnr_all < lowest_) {
    lowest_ = row.psnr_all;
    lowest_frame_ = measure.frame;
  }
  if (frames_ == 0 || row.psnr_all > highest_) {
    highest_ = row.psnr_all;
    highest_frame_ = measure.frame;
  }
  ++frames_;
  return row;
}

ReportRow MeasureTotals::total_row() const {
  ReportRow row;
  SseTotal sse_all;
  std::uint64_t samples_all = 0;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneTotals& total = totals_[p];
    const PlaneLayout& plane = geometry_.planes[p];
    row.beyond[p] = total.beyond;
    row.max_abs[p] = value_difference(geometry_, total.max_abs);
    row.sse[p] = total.sse;
    row.psnr[p] = psnr(sample_peak(geometry_), total.samples, total.sse.value());
    const bool has_ssim = frames_ > 0 && plane.width >= 8 && plane.height >= 8;
    row.ssim[p] = has_ssim ? total.ssim_sum / static_cast<double>(frames_) : kNoValue;
    sse_all.add(total.sse);
    samples_all += total.samples;
  }
  row.psnr_all = psnr(sample_peak(geometry_), samples_all, sse_all.value());
  row.ssim_all = frames_ > 0 ? ssim_all_sum_ / static_cast<double>(frames_) : kNoValue;
  row.ssim_db = std::isnan(row.ssim_all) ? kNoValue : ssim_db(row.ssim_all);
  return row;
}

PsnrPooling MeasureTotals::pooling() const {
  PsnrPooling pooling;
  const double frames = static_cast<double>(frames_);
  for (std::size_t p = 0; p < 3; ++p) {
    pooling.mean[p] =
        frames_ > 0 && p < geometry_.plane_count ? totals_[p].psnr_sum / frames : kNoValue;
  }
  pooling.all_mean = frames_ > 0 ? psnr_all_sum_ / frames : kNoValue;
  pooling.weighted_611 = geometry_.plane_count == 3
                             ? (6 * pooling.mean[0] + pooling.mean[1] + pooling.mean[2]) / 8
                             : pooling.mean[0];
  pooling.lowest = frames_ > 0 ? lowest_ : kNoValue;
  pooling.lowest_frame = lowest_frame_;
  pooling.highest = frames_ > 0 ? highest_ : kNoValue;
  pooling.highest_frame = highest_frame_;
  return pooling;
}

TextMeasureReport::TextMeasureReport(const FrameGeometry& geometry, const bool per_frame,
                                     OutputSink& out, const ReportColumns columns)
    : MeasureTotals(geometry, columns), per_frame_(per_frame), out_(out) {}

bool TextMeasureReport::write(const char* const line) {
  if (!failed_ && !out_.write(line, std::strlen(line))) failed_ = true;
  return !failed_;
}

// The columns: per plane the samples beyond the tolerance, the largest difference and
// PSNR; with the poolings PSNR all; with SSIM each plane's, the combined value and its dB.
// A 1920x1080 line with every column takes 150 characters.
bool TextMeasureReport::write_heading() {
  heading_written_ = true;
  char heading[320] = "frame";
  int used = 5;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const char label[] = {geometry_.planes[p].letter, '\0'};
    used = append_text(heading, sizeof heading, used, "%4s differing%6s%8s", label, "max", "PSNR");
  }
  if (columns_.pooling) used = append_text(heading, sizeof heading, used, "%10s", "PSNR all");
  if (columns_.ssim) {
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      used = append_text(heading, sizeof heading, used, "%5c SSIM", geometry_.planes[p].letter);
    }
    used = append_text(heading, sizeof heading, used, "%10s%11s", "SSIM all", "dB");
  }
  append_text(heading, sizeof heading, used, "\n");
  return write(heading);
}

bool TextMeasureReport::write_row(char (&line)[320], int used, const ReportRow& row) {
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    char psnr_column[32];
    psnr_text(row.psnr[p], psnr_column);
    used = append_text(line, sizeof line, used, "%14" PRIu64 "%6" PRIu32 "%8s", row.beyond[p],
                       row.max_abs[p], psnr_column);
  }
  if (columns_.pooling) used = append_psnr(line, sizeof line, used, 10, row.psnr_all);
  if (columns_.ssim) {
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      used = append_fixed6(line, sizeof line, used, 10, row.ssim[p]);
    }
    used = append_fixed6(line, sizeof line, used, 10, row.ssim_all);
    used = append_fixed6(line, sizeof line, used, 11, row.ssim_db);
  }
  append_text(line, sizeof line, used, "\n");
  return write(line);
}

bool TextMeasureReport::frame(const FrameMeasure& measure) {
  const ReportRow row = book(measure);
  if (!per_frame_) return true;
  if (!heading_written_ && !write_heading()) return false;
  char line[320];
  const int used = std::snprintf(line, sizeof line, "%5" PRId64, measure.frame);
  return write_row(line, used, row);
}

bool TextMeasureReport::finish(const bool failed) {
  if (failed) return !failed_;
  // The heading and the totals line are there even when no frame was compared, so that a
  // script always finds them.
  if (!heading_written_) write_heading();
  char line[320] = "total";
  write_row(line, 5, total_row());
  if (!columns_.pooling) return !failed_;
  // The means under their PSNR columns, then the 6:1:1 weighting and the extremes.
  const PsnrPooling means = pooling();
  char mean[320] = "mean ";
  int used = 5;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    used = append_text(mean, sizeof mean, used, "%20s", "");
    used = append_psnr(mean, sizeof mean, used, 8, means.mean[p]);
  }
  used = append_psnr(mean, sizeof mean, used, 10, means.all_mean);
  used = append_text(mean, sizeof mean, used, "  6:1:1 ");
  used = append_psnr(mean, sizeof mean, used, 0, means.weighted_611);
  if (means.lowest_frame >= 0) {
    used = append_text(mean, sizeof mean, used, "  min ");
    used = append_psnr(mean, sizeof mean, used, 0, means.lowest);
    used = append_text(mean, sizeof mean, used, " (frame %" PRId64 ")  max ", means.lowest_frame);
    used = append_psnr(mean, sizeof mean, used, 0, means.highest);
    used = append_text(mean, sizeof mean, used, " (frame %" PRId64 ")", means.highest_frame);
  }
  append_text(mean, sizeof mean, used, "\n");
  return write(mean);
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

JsonMeasureReport::JsonMeasureReport(const FrameGeometry& geometry, const bool per_frame,
                                     const RunHeader& header, const ReportColumns columns,
                                     OutputSink& out)
    : MeasureTotals(geometry, columns), per_frame_(per_frame), header_(header), out_(out) {
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

bool JsonMeasureReport::frame(const FrameMeasure& measure) {
  const ReportRow row = book(measure);
  if (!per_frame_) return !failed_;
  text_ += frames_written_ > 0 ? ",\n    {" : "\n    {";
  ++frames_written_;
  append_member(text_, 6, "frame", static_cast<std::uint64_t>(measure.frame));
  append_row(text_, 6, geometry_, row, columns_, nullptr);
  text_ += "\n    }";
  if (text_.size() >= kJsonBlock) return flush();
  return !failed_;
}

bool JsonMeasureReport::finish(const ComparisonOutcome& outcome) {
  if (per_frame_) text_ += frames_written_ > 0 ? "\n  ]" : "]";
  append_json_verdict(text_, outcome);
  const PsnrPooling means = pooling();
  append_row(text_, 2, geometry_, total_row(), columns_, columns_.pooling ? &means : nullptr);
  if (columns_.pooling) append_pooling(text_, means);
  append_json_first_difference(text_, first());
  text_ += "\n}\n";
  return flush();
}

CsvMeasureReport::CsvMeasureReport(const FrameGeometry& geometry, const bool per_frame,
                                   OutputSink& out, const ReportColumns columns)
    : MeasureTotals(geometry, columns), per_frame_(per_frame), out_(out) {}

bool CsvMeasureReport::write(const std::string& text) {
  if (!failed_ && !out_.write(text.data(), text.size())) failed_ = true;
  return !failed_;
}

// frame, then per plane differing, max, sse and psnr, then psnr_all, then with SSIM each
// plane's, ssim_all and ssim_db: the same columns in every row.
bool CsvMeasureReport::write_header() {
  header_written_ = true;
  row_ = "frame";
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const char plane = static_cast<char>(geometry_.planes[p].letter - 'A' + 'a');
    for (const char* const name : {"_differing", "_max", "_sse", "_psnr"}) {
      (row_ += ',') += plane;
      row_ += name;
    }
  }
  row_ += ",psnr_all";
  if (columns_.ssim) {
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      (row_ += ',') += static_cast<char>(geometry_.planes[p].letter - 'A' + 'a');
      row_ += "_ssim";
    }
    row_ += ",ssim_all,ssim_db";
  }
  row_ += "\r\n";
  return write(row_);
}

bool CsvMeasureReport::write_row(const char* const first_cell, const ReportRow& row) {
  row_ = first_cell;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    append_csv_integer(row_, row.beyond[p]);
    append_csv_integer(row_, row.max_abs[p]);
    append_csv_sse(row_, row.sse[p]);
    append_csv_number(row_, row.psnr[p]);
  }
  append_csv_number(row_, row.psnr_all);
  if (columns_.ssim) {
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) append_csv_number(row_, row.ssim[p]);
    append_csv_number(row_, row.ssim_all);
    append_csv_number(row_, row.ssim_db);
  }
  row_ += "\r\n";
  return write(row_);
}

bool CsvMeasureReport::frame(const FrameMeasure& measure) {
  const ReportRow row = book(measure);
  if (!per_frame_) return true;
  if (!header_written_ && !write_header()) return false;
  char index[24];
  std::snprintf(index, sizeof index, "%" PRId64, measure.frame);
  return write_row(index, row);
}

bool CsvMeasureReport::finish(const bool failed) {
  if (failed) return !failed_;
  if (!header_written_) write_header();
  write_row("total", total_row());
  if (!columns_.pooling) return !failed_;
  // The means under the PSNR columns; the other cells are empty.
  const PsnrPooling means = pooling();
  row_ = "mean";
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    row_ += ",,,";
    append_csv_number(row_, means.mean[p]);
  }
  append_csv_number(row_, means.all_mean);
  if (columns_.ssim) row_.append(geometry_.plane_count + 2, ',');
  row_ += "\r\n";
  return write(row_);
}

}  // namespace framecmp
