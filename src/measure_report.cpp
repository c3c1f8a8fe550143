#include "measure_report.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>

#include "run_summary.h"

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

// Appends the columns of one plane (samples beyond the tolerance, largest difference,
// PSNR) to the line of `size` bytes at `line`, after its first `used` bytes.
int append_columns(char* const line, const std::size_t size, const int used,
                   const std::uint64_t beyond, const std::uint32_t max_abs, const double psnr) {
  char psnr_column[32];
  psnr_text(psnr, psnr_column);
  const auto at = static_cast<std::size_t>(used);
  return used + std::snprintf(line + at, size - at, "%14" PRIu64 "%6" PRIu32 "%8s", beyond, max_abs,
                              psnr_column);
}

// Appends `value` with six decimals in `width` columns: "-" for NaN (no value), "inf".
int append_fixed6(char* const line, const std::size_t size, const int used, const int width,
                  const double value) {
  const auto at = static_cast<std::size_t>(used);
  if (std::isnan(value)) return used + std::snprintf(line + at, size - at, "%*s", width, "-");
  if (std::isinf(value)) return used + std::snprintf(line + at, size - at, "%*s", width, "inf");
  return used + std::snprintf(line + at, size - at, "%*.6f", width, value);
}

// The columns of a line after the planes': the combined SSIM and its dB.
int append_ssim_tail(char* const line, const std::size_t size, int used, const double all) {
  used = append_fixed6(line, size, used, 10, all);
  return append_fixed6(line, size, used, 11, std::isnan(all) ? all : ssim_db(all));
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
// `ssim` is appended when it is not nullptr (a NaN value is null).
void append_plane(std::string& text, const int indent, const char letter,
                  const std::uint64_t beyond, const std::uint32_t max_abs, const SseTotal& sse,
                  const double psnr, const double* const ssim) {
  text += '\n';
  text.append(static_cast<std::size_t>(indent), ' ');
  text += "{";
  char letter_text[4];
  append_json_member(text, indent + 2, "plane", letter_json(letter, letter_text));
  append_member(text, indent + 2, "differing", beyond);
  append_member(text, indent + 2, "max_abs_diff", max_abs);
  append_key(text, indent + 2, "sse");
  append_sse(text, sse);
  append_key(text, indent + 2, "psnr");
  append_number(text, psnr);
  if (ssim != nullptr) {
    append_key(text, indent + 2, "ssim");
    append_number(text, *ssim);
  }
  text += '\n';
  text.append(static_cast<std::size_t>(indent), ' ');
  text += '}';
}

// "ssim_all" and "ssim_db" of a combined SSIM (null when NaN or, for dB, infinite).
void append_ssim_members(std::string& text, const int indent, const double all) {
  append_key(text, indent, "ssim_all");
  append_number(text, all);
  append_key(text, indent, "ssim_db");
  append_number(text, std::isnan(all) ? all : ssim_db(all));
}

const char* ending_name(const RunEnd end) {
  switch (end) {
    case RunEnd::kTestShorter:
      return "test_shorter";
    case RunEnd::kRefShorter:
      return "ref_shorter";
    case RunEnd::kFramesLimit:
      return "frames_limit";
    default:
      return "together";
  }
}

}  // namespace

double psnr(const int depth, const std::uint64_t samples, const double sse) {
  if (sse == 0) return std::numeric_limits<double>::infinity();
  const double max = static_cast<double>((std::uint32_t{1} << depth) - 1);
  return 10.0 * std::log10(max * max * static_cast<double>(samples) / sse);
}

double combined_ssim(const FrameGeometry& geometry, const FrameSsim& ssim) {
  std::uint64_t samples = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p)
    samples += plane_samples(geometry.planes[p]);
  double all = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    if (!ssim.has[p]) return std::numeric_limits<double>::quiet_NaN();
    const double weight =
        static_cast<double>(plane_samples(geometry.planes[p])) / static_cast<double>(samples);
    all += weight * ssim.plane[p];
  }
  return all;
}

double ssim_db(const double ssim) {
  if (ssim >= 1) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(1.0 / (1.0 - ssim));
}

bool MeasureTotals::frame(const FrameMeasure& measure) {
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    PlaneTotals& total = totals_[p];
    const SampleStats& stats = measure.planes[p];
    total.beyond += stats.beyond;
    total.max_abs = std::max(total.max_abs, stats.max_abs);
    total.sse.add(stats.sse);
    total.samples += plane_samples(geometry_.planes[p]);
    if (measure.ssim.has[p]) total.ssim_sum += measure.ssim.plane[p];
  }
  if (ssim_) combined_ssim_sum_ += combined_ssim(geometry_, measure.ssim);
  ++frames_;
  return true;
}

double MeasureTotals::mean_ssim(const std::size_t p) const {
  const PlaneLayout& plane = geometry_.planes[p];
  if (frames_ == 0 || plane.width < 8 || plane.height < 8) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return totals_[p].ssim_sum / static_cast<double>(frames_);
}

double MeasureTotals::mean_combined_ssim() const {
  if (frames_ == 0) return std::numeric_limits<double>::quiet_NaN();
  return combined_ssim_sum_ / static_cast<double>(frames_);
}

TextMeasureReport::TextMeasureReport(const FrameGeometry& geometry, const bool per_frame,
                                     OutputSink& out, const bool ssim)
    : MeasureTotals(geometry, ssim), per_frame_(per_frame), out_(out) {}

bool TextMeasureReport::write(const char* const line) {
  if (!failed_ && !out_.write(line, std::strlen(line))) failed_ = true;
  return !failed_;
}

bool TextMeasureReport::write_heading() {
  heading_written_ = true;
  char heading[256] = "frame";
  int used = 5;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const char label[] = {geometry_.planes[p].letter, '\0'};
    used += std::snprintf(heading + used, sizeof heading - static_cast<std::size_t>(used),
                          "%4s differing%6s%8s", label, "max", "PSNR");
    if (ssim_) {
      used += std::snprintf(heading + used, sizeof heading - static_cast<std::size_t>(used), "%10s",
                            "SSIM");
    }
  }
  if (ssim_) {
    used += std::snprintf(heading + used, sizeof heading - static_cast<std::size_t>(used),
                          "%10s%11s", "SSIM all", "dB");
  }
  std::snprintf(heading + used, sizeof heading - static_cast<std::size_t>(used), "\n");
  return write(heading);
}

bool TextMeasureReport::frame(const FrameMeasure& measure) {
  MeasureTotals::frame(measure);
  if (!per_frame_) return true;
  if (!heading_written_ && !write_heading()) return false;
  char line[256];
  int used = std::snprintf(line, sizeof line, "%5" PRId64, measure.frame);
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const SampleStats& stats = measure.planes[p];
    used = append_columns(
        line, sizeof line, used, stats.beyond, stats.max_abs,
        psnr(geometry_.depth, plane_samples(geometry_.planes[p]), static_cast<double>(stats.sse)));
    if (ssim_) {
      used = append_fixed6(
          line, sizeof line, used, 10,
          measure.ssim.has[p] ? measure.ssim.plane[p] : std::numeric_limits<double>::quiet_NaN());
    }
  }
  if (ssim_)
    used = append_ssim_tail(line, sizeof line, used, combined_ssim(geometry_, measure.ssim));
  std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), "\n");
  return write(line);
}

bool TextMeasureReport::finish(const bool failed) {
  if (failed) return !failed_;
  // The heading and the totals line are there even when no frame was compared, so that a
  // script always finds them.
  if (!heading_written_) write_heading();
  char line[256] = "total";
  int used = 5;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneTotals& total = totals()[p];
    used = append_columns(line, sizeof line, used, total.beyond, total.max_abs,
                          psnr(geometry_.depth, total.samples, total.sse.value()));
    if (ssim_) used = append_fixed6(line, sizeof line, used, 10, mean_ssim(p));
  }
  if (ssim_) used = append_ssim_tail(line, sizeof line, used, mean_combined_ssim());
  std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), "\n");
  return write(line);
}

JsonMeasureReport::JsonMeasureReport(const FrameGeometry& geometry, const bool per_frame,
                                     const RunSettings& settings, OutputSink& out)
    : MeasureTotals(geometry, settings.ssim),
      per_frame_(per_frame),
      settings_(settings),
      out_(out) {
  text_.reserve(2 * kJsonBlock);
  begin();
}

void JsonMeasureReport::begin() {
  const RunSettings& s = settings_;
  text_ += "{";
  append_json_member(text_, 2, "test", json_string(s.test_path));
  append_json_member(text_, 2, "ref", json_string(s.ref_path));
  append_member(text_, 2, "width", static_cast<std::uint64_t>(s.width));
  append_member(text_, 2, "height", static_cast<std::uint64_t>(s.height));
  append_json_member(text_, 2, "pix_fmt", json_string(s.format.name));
  append_member(text_, 2, "bit_depth", s.format.depth);
  append_member(text_, 2, "block", static_cast<std::uint64_t>(s.block_size));
  append_member(text_, 2, "tolerance", static_cast<std::uint64_t>(s.tolerance));
  append_member(text_, 2, "skip_test", static_cast<std::uint64_t>(s.skip_test));
  append_member(text_, 2, "skip_ref", static_cast<std::uint64_t>(s.skip_ref));
  append_key(text_, 2, "frames_limit");
  if (s.frames_limit > 0) {
    append_integer(text_, static_cast<std::uint64_t>(s.frames_limit));
  } else {
    text_ += "null";
  }
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
  MeasureTotals::frame(measure);
  if (!per_frame_) return !failed_;
  text_ += frames_written_ > 0 ? ",\n    {" : "\n    {";
  ++frames_written_;
  append_member(text_, 6, "frame", static_cast<std::uint64_t>(measure.frame));
  append_key(text_, 6, "planes");
  text_ += '[';
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const SampleStats& stats = measure.planes[p];
    SseTotal sse;
    sse.add(stats.sse);
    const double ssim =
        measure.ssim.has[p] ? measure.ssim.plane[p] : std::numeric_limits<double>::quiet_NaN();
    append_plane(
        text_, 8, geometry_.planes[p].letter, stats.beyond, stats.max_abs, sse,
        psnr(geometry_.depth, plane_samples(geometry_.planes[p]), static_cast<double>(stats.sse)),
        ssim_ ? &ssim : nullptr);
    if (p + 1 < geometry_.plane_count) text_ += ',';
  }
  text_ += "\n      ]";
  if (ssim_) append_ssim_members(text_, 6, combined_ssim(geometry_, measure.ssim));
  text_ += "\n    }";
  if (text_.size() >= kJsonBlock) return flush();
  return !failed_;
}

bool JsonMeasureReport::finish(const ComparisonOutcome& outcome) {
  if (per_frame_) text_ += frames_written_ > 0 ? "\n  ]" : "]";
  append_key(text_, 2, "verdict");
  text_ += '"';
  text_ += verdict_name(verdict_of(outcome));
  text_ += '"';
  append_key(text_, 2, "ending");
  text_ += '"';
  text_ += ending_name(outcome.end);
  text_ += '"';
  append_member(text_, 2, "frames_compared", static_cast<std::uint64_t>(outcome.frames_compared));
  append_key(text_, 2, "planes");
  text_ += '[';
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneTotals& total = totals()[p];
    const double ssim = mean_ssim(p);
    append_plane(text_, 4, geometry_.planes[p].letter, total.beyond, total.max_abs, total.sse,
                 psnr(geometry_.depth, total.samples, total.sse.value()), ssim_ ? &ssim : nullptr);
    if (p + 1 < geometry_.plane_count) text_ += ',';
  }
  text_ += "\n  ]";
  if (ssim_) append_ssim_members(text_, 2, mean_combined_ssim());
  append_key(text_, 2, "first_difference");
  if (const std::optional<ReportFields>& f = first(); f) {
    text_ += "{";
    char letter_text[4];
    append_member(text_, 4, "frame", static_cast<std::uint64_t>(f->frame));
    append_json_member(text_, 4, "plane", letter_json(f->plane_letter, letter_text));
    append_member(text_, 4, "row", static_cast<std::uint64_t>(f->position.row));
    append_member(text_, 4, "column", static_cast<std::uint64_t>(f->position.column));
    append_member(text_, 4, "block", static_cast<std::uint64_t>(f->position.block));
    append_member(text_, 4, "test", f->test_sample);
    append_member(text_, 4, "ref", f->ref_sample);
    text_ += "\n  }";
  } else {
    text_ += "null";
  }
  text_ += "\n}\n";
  return flush();
}

}  // namespace framecmp
