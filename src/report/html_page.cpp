#include "report/html_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "report/block_dump.h"
#include "report/run_summary.h"

#ifndef FRAMECMP_VERSION
#define FRAMECMP_VERSION "unknown"
#endif

namespace framecmp {

// The page's style and script (html_assets.cpp).
extern const char* const kHtmlStyle;
extern const char* const kHtmlScript;

namespace {

constexpr std::size_t kFlushAt = 1 << 16;
constexpr std::size_t kMostDumps = 4;

// Six significant digits: what a plot can show, and 10,000 frames of every metric stay a
// few megabytes.
void append_number(std::string& out, const double value) {
  if (std::isnan(value)) {
    out += "nan";
  } else if (std::isinf(value)) {
    out += value > 0 ? "inf" : "-inf";
  } else {
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, "%.6g", value);
    out.append(digits, static_cast<std::size_t>(std::max(n, 0)));
  }
}

double cell_number(const ColumnSpec& column, const Value& value) {
  if (column.kind == ValueKind::kCount || column.kind == ValueKind::kSum) return value.sum.value();
  return value.number;
}

// A total as the text report writes it.
std::string total_text(const ColumnSpec& column, const Value& value) {
  if (column.kind == ValueKind::kCount || column.kind == ValueKind::kSum) {
    char digits[48];
    if (value.sum.fits_64_bits()) {
      std::snprintf(digits, sizeof digits, "%" PRIu64, value.sum.low);
    } else {
      std::snprintf(digits, sizeof digits, "%.17g", value.sum.value());
    }
    return digits;
  }
  if (std::isnan(value.number)) return "-";
  if (std::isinf(value.number)) return value.number > 0 ? "inf" : "-inf";
  char digits[48];
  std::snprintf(digits, sizeof digits, column.kind == ValueKind::kDecibels ? "%.2f" : "%.6f",
                value.number);
  return digits;
}

const char* unit_of(const ColumnSpec& column) {
  const std::string_view name = column.json;
  // libvmaf's PSNRs and decibel SSIMs are plain numbers to the reports, decibels here.
  if (name.find("psnr") != std::string_view::npos || name.ends_with("_db")) return "dB";
  switch (column.kind) {
    case ValueKind::kDecibels:
      return "dB";
    case ValueKind::kCount:
    case ValueKind::kSum:
      return "samples";
    case ValueKind::kFraction:
      break;
  }
  return "";
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else if (c == '<') {
      out += "\\u003c";  // keeps "</script>" out of the page's data
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string base64(const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t a = static_cast<unsigned char>(bytes[i]);
    const std::uint32_t b = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    const std::uint32_t c = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
    const std::uint32_t triple = a << 16 | b << 8 | c;
    out += kDigits[triple >> 18 & 63];
    out += kDigits[triple >> 12 & 63];
    out += i + 1 < bytes.size() ? kDigits[triple >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[triple & 63] : '=';
  }
  return out;
}

std::uint32_t stored_sample(const PlaneLayout& plane, const std::uint8_t* frame,
                            const std::int64_t index) {
  const std::uint8_t* at = frame + plane.offset + index * plane.stride;
  if (plane.bytes_per_sample == 1) return at[0];
  return plane.byte_order == ByteOrder::kLittle ? (at[0] | std::uint32_t{at[1]} << 8)
                                                : (at[1] | std::uint32_t{at[0]} << 8);
}

std::string file_row(const char* role, const HtmlFile& file, const std::int64_t frames) {
  std::string row = "<tr><th>" + std::string(role) + "</th><td>" + html_escaped(file.path) +
                    "</td><td>" + html_escaped(file.format) + "</td><td>";
  row += file.bytes >= 0 ? std::to_string(file.bytes) + " bytes" : "not a regular file";
  return row + "</td><td>" + std::to_string(frames) + " compared</td></tr>\n";
}

}  // namespace

std::string html_escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

HtmlPage::HtmlPage(MetricSet& metrics, const FrameGeometry& geometry, HtmlRun run)
    : metrics_(metrics), geometry_(geometry), run_(std::move(run)) {
  make_plots();
}

HtmlPage::~HtmlPage() {
  if (values_fd_ >= 0) ::close(values_fd_);
}

// The plots: a per-plane column is a plot of its planes; a metric's frame columns of one
// kind share one. Only the columns a text report shows are drawn (libvmaf's features are
// read from the logs).
void HtmlPage::make_plots() {
  std::string plots = "[";
  const std::span<const MetricSet::Metric> metrics = metrics_.metrics();
  for (std::size_t m = 0; m < metrics.size(); ++m) {
    const std::span<const ColumnSpec> columns = metrics[m].values->columns();
    std::string shared;  // the plot of this metric's frame columns of the kind below
    ValueKind shared_kind = ValueKind::kFraction;
    const auto close_shared = [&] {
      if (shared.empty()) return;
      if (plots.size() > 1) plots += ',';
      plots += shared;
      plots += "]}";
      shared.clear();
    };
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const ColumnSpec& column = columns[c];
      if ((column.places & (kInText | kInTextBelow)) == 0) continue;
      const bool damage = std::string_view(column.json) == "differing";
      if (column.per_plane) {
        close_shared();
        std::string plot = "{\"title\":" + json_string(column.json) +
                           ",\"unit\":" + json_string(unit_of(column)) +
                           (damage ? ",\"damage\":true" : "") + ",\"series\":[";
        for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
          if (p > 0) plot += ',';
          plot += "{\"label\":\"";
          plot += geometry_.planes[p].letter;
          plot += "\",\"column\":";
          plot += std::to_string(cells_.size());
          plot += '}';
          cells_.emplace_back(m, 3 * c + p);
        }
        if (plots.size() > 1) plots += ',';
        plots += plot;
        plots += "]}";
        continue;
      }
      // A value in decibels beside fractions gets a plot of its own.
      const bool own = std::string_view(column.json).ends_with("_db");
      if (!shared.empty() && (column.kind != shared_kind || own)) close_shared();
      if (shared.empty()) {
        shared_kind = column.kind;
        shared = "{\"title\":" + json_string(column.json) +
                 ",\"unit\":" + json_string(unit_of(column)) + ",\"series\":[";
      } else {
        shared += ",";
      }
      shared += "{\"label\":" + json_string(column.json) +
                ",\"column\":" + std::to_string(cells_.size()) + "}";
      cells_.emplace_back(m, 3 * c);
      if (own) close_shared();
    }
    close_shared();
  }
  series_ = plots + "]";
}

bool HtmlPage::open(const std::string& path) {
  if (!page_.open(path)) {
    error_ = page_.error();
    return false;
  }
  const std::size_t slash = path.rfind('/');
  std::string pattern = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
                        "/.framecmp-values-XXXXXX";
  values_fd_ = mkstemp(pattern.data());
  if (values_fd_ < 0) {
    error_ = errno;
    return false;
  }
  // Unlinked at once: nothing stays behind, whatever ends the run.
  ::unlink(pattern.c_str());
  buffer_.reserve(2 * kFlushAt);
  return true;
}

bool HtmlPage::flush_values() {
  const char* at = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0 && !failed_) {
    const ssize_t n = ::write(values_fd_, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      break;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  buffer_.clear();
  return !failed_;
}

bool HtmlPage::frame(const FrameMeasure& measure) {
  if (values_fd_ < 0) return true;
  buffer_ += std::to_string(measure.frame);
  const std::span<const MetricSet::Metric> metrics = metrics_.metrics();
  for (const auto& [m, cell] : cells_) {
    const ColumnSpec& column = metrics[m].values->columns()[cell / 3];
    buffer_ += ' ';
    append_number(buffer_, cell_number(column, metrics[m].frame[cell]));
  }
  buffer_ += '\n';
  ++frames_;
  // The page follows the stats file: a failed write fails the page at its end, not the
  // run's report.
  if (buffer_.size() >= kFlushAt) flush_values();
  return true;
}

void HtmlPage::frame(const std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
                     const bool differs) {
  if (drawn_frame_ >= 0) return;
  if (run_.picture_frame >= 0 ? index != run_.picture_frame : !differs) return;
  picture_ = make_difference_image(geometry_);
  if (!picture_) return;
  draw_difference(geometry_, test, ref, run_.tolerance, *picture_);
  drawn_frame_ = index;
  if (!run_.dumps) return;
  // The first damaged blocks in block order, each dumped as --dump prints it.
  std::vector<bool> damaged(static_cast<std::size_t>(block_count(geometry_)));
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneLayout& plane = geometry_.planes[p];
    const std::int64_t samples = std::int64_t{plane.width} * plane.height;
    for (std::int64_t i = 0; i < samples; ++i) {
      const std::uint32_t a = stored_sample(plane, test, i), b = stored_sample(plane, ref, i);
      if ((a > b ? a - b : b - a) <= run_.tolerance) continue;
      damaged[static_cast<std::size_t>(sample_position(geometry_, plane, i).block)] = true;
    }
  }
  for (std::size_t block = 0; block < damaged.size() && dumps_.size() < kMostDumps; ++block) {
    if (!damaged[block]) continue;
    BlockDump dump(geometry_, index, static_cast<std::int64_t>(block), run_.tolerance);
    dump.frame(index, test, ref, differs);
    if (dump.taken()) dumps_.push_back(dump.text());
  }
}

std::string HtmlPage::head(const std::string& verdict, const bool identical) const {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>framecmp: " +
      html_escaped(run_.test.path) + " against " + html_escaped(run_.ref.path) +
      "</title>\n<style>\n" + kHtmlStyle + "</style>\n</head>\n<body>\n<header>\n";
  page += std::string("<p id=\"verdict\" class=\"") + (identical ? "same" : "differ") + "\">" +
          html_escaped(verdict) + "</p>\n<table class=\"facts\">\n";
  page += file_row("test", run_.test, frames_) + file_row("reference", run_.ref, frames_);
  const std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
  page += "<tr><th>command</th><td colspan=\"4\"><code>" + html_escaped(run_.command_line) +
          "</code></td></tr>\n<tr><th>framecmp</th><td colspan=\"4\">" FRAMECMP_VERSION ", " +
          std::string(date) + "</td></tr>\n</table>\n</header>\n";
  return page;
}

// The totals of every column a report shows, as the text report writes them, and the
// pooled values.
std::string HtmlPage::totals() const {
  std::string table = "<section id=\"totals\">\n<h2>Totals</h2>\n<table class=\"totals\">\n";
  std::string rows[3];
  std::string heading = "<tr><th></th>";
  std::string frame_rows;
  const bool means = metrics_.has_means();
  for (const MetricSet::Metric& metric : metrics_.metrics()) {
    const std::span<const ColumnSpec> columns = metric.values->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const ColumnSpec& column = columns[c];
      if ((column.places & (kInText | kInTextBelow | kInCsv)) == 0) continue;
      if (!column.per_plane) {
        frame_rows += "<tr><th>" + html_escaped(column.json) + "</th><td>" +
                      total_text(column, metric.total[3 * c]) + "</td>";
        if (means && column.has_mean) {
          frame_rows += "<td>mean " + total_text(column, metric.means[3 * c]) + "</td>";
        }
        frame_rows += "</tr>\n";
        continue;
      }
      heading += "<th>" + html_escaped(column.json) + "</th>";
      for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
        rows[p] += "<td>" + total_text(column, metric.total[3 * c + p]);
        if (means && column.has_mean)
          rows[p] += " (mean " + total_text(column, metric.means[3 * c + p]) + ")";
        rows[p] += "</td>";
      }
    }
  }
  table += heading + "</tr>\n";
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    table += std::string("<tr><th>") + geometry_.planes[p].letter + "</th>" + rows[p] + "</tr>\n";
  }
  table += "</table>\n";
  std::string pooled;
  for (const MetricSet::Metric& metric : metrics_.metrics()) {
    for (const PooledValue& value : metric.values->pooled()) {
      pooled += "<tr><th>" + html_escaped(value.label) + "</th><td>" +
                total_text({"", "", "", 0, ValueKind::kDecibels, false, 0, false},
                           Value{{}, value.value});
      if (value.names_frame && value.frame >= 0) {
        pooled += " (frame " + std::to_string(value.frame) + ")";
      }
      pooled += "</td></tr>\n";
    }
  }
  if (!frame_rows.empty() || !pooled.empty()) {
    table += "<table class=\"totals\">\n" + frame_rows + pooled + "</table>\n";
  }
  return table + "</section>\n";
}

std::string HtmlPage::picture_section() const {
  if (!picture_) return {};
  const std::optional<std::string> png = png_bytes(*picture_);
  if (!png) return {};
  std::string section = "<section id=\"picture\">\n<h2>Frame " + std::to_string(drawn_frame_) +
                        "</h2>\n<p class=\"note\">Equal samples dim grey, the test above the "
                        "reference red, below it blue; the block grid green.</p>\n<div "
                        "class=\"pair\"><img alt=\"the differences of frame " +
                        std::to_string(drawn_frame_) + "\" src=\"data:image/png;base64," +
                        base64(*png) + "\">\n";
  if (!dumps_.empty()) {
    section += "<div class=\"dumps\">\n";
    for (const std::string& dump : dumps_) section += "<pre>" + html_escaped(dump) + "</pre>\n";
    section += "</div>\n";
  }
  return section + "</div>\n</section>\n";
}

bool HtmlPage::write(const std::string& text) {
  const char* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(page_.fd(), at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// The values' temporary into the page, a block at a time.
bool HtmlPage::copy_values() {
  if (!flush_values() || ::lseek(values_fd_, 0, SEEK_SET) != 0) return false;
  char block[1 << 16];
  for (;;) {
    const ssize_t n = ::read(values_fd_, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write(std::string(block, static_cast<std::size_t>(n)))) return false;
  }
}

bool HtmlPage::finish(const ComparisonOutcome& outcome, const std::string& verdict) {
  if (failed_ || values_fd_ < 0) return false;
  const bool identical = verdict_of(outcome) == Verdict::kIdentical && drawn_frame_ < 0;
  // Whatever report ran, the totals are the metrics' own (pooling is idempotent).
  metrics_.pool();
  std::string page = head(verdict, identical) + totals();
  if (frames_ > 0 && !identical) {
    page +=
        "<section id=\"plots\">\n<h2>Per frame</h2>\n<p class=\"note\">Hover over a plot for a "
        "frame's values; the lowest frame of each line is ringed. Lines: Y blue, U orange, V "
        "green (the Okabe-Ito palette).</p>\n</section>\n"
        "<section id=\"damage\">\n<h2>Damage</h2>\n<p class=\"note\">Differing samples per frame "
        "and plane, darker for more; click a frame for its values.</p>\n<canvas "
        "id=\"strip\"></canvas>\n<pre id=\"frame-values\">(no frame chosen)</pre>\n</section>\n";
  }
  page += picture_section();
  page += "<pre id=\"problems\" hidden data-count=\"0\"></pre>\n";
  page += "<script type=\"application/json\" id=\"plot-list\">" + series_ + "</script>\n";
  page += "<script type=\"text/plain\" id=\"values\">\n";
  bool written = write(page);
  if (!identical) written = written && copy_values();
  written = written && write(std::string("</script>\n<script>\n") + kHtmlScript +
                             "</script>\n</body>\n</html>\n");
  return written && page_.commit();
}

}  // namespace framecmp
