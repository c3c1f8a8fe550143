#include "measure_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

namespace framecmp {
namespace {

// Keys stay in the order written, so that the document reads like its description.
using Json = nlohmann::ordered_json;

// "%.2f" of a PSNR, or "inf".
std::string psnr_text(const double value) {
  if (std::isinf(value)) return "inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::uint64_t plane_samples(const PlaneLayout& plane) {
  return static_cast<std::uint64_t>(plane.width) * static_cast<std::uint64_t>(plane.height);
}

// The columns of one plane: samples beyond the tolerance, largest difference, PSNR.
std::string plane_columns(const SampleStats& stats, const int depth, const std::uint64_t samples) {
  char text[64];
  std::snprintf(text, sizeof text, "%14" PRIu64 "%6" PRIu32 "%8s", stats.beyond, stats.max_abs,
                psnr_text(psnr(depth, samples, stats.sse)).c_str());
  return text;
}

Json plane_json(const char letter, const SampleStats& stats, const int depth,
                const std::uint64_t samples) {
  const double value = psnr(depth, samples, stats.sse);
  return {{"plane", std::string(1, letter)},
          {"differing", stats.beyond},
          {"max_abs_diff", stats.max_abs},
          {"sse", stats.sse},
          {"psnr", std::isinf(value) ? Json(nullptr) : Json(value)}};
}

const char* verdict_name(const ComparisonOutcome& outcome) {
  if (outcome.mismatches > 0 || outcome.end == RunEnd::kPartialDiffers) return "differ";
  return outcome.within_tolerance ? "match_within_tolerance" : "identical";
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

double psnr(const int depth, const std::uint64_t samples, const std::uint64_t sse) {
  if (sse == 0) return std::numeric_limits<double>::infinity();
  const double max = static_cast<double>((std::uint32_t{1} << depth) - 1);
  return 10.0 * std::log10(max * max * static_cast<double>(samples) / static_cast<double>(sse));
}

void MeasureTotals::frame(const FrameMeasure& measure) {
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    totals_[p].stats.add(measure.planes[p]);
    totals_[p].samples += plane_samples(geometry_.planes[p]);
  }
}

TextMeasureReport::TextMeasureReport(const FrameGeometry& geometry, const bool per_frame,
                                     OutputSink& out)
    : MeasureTotals(geometry), per_frame_(per_frame), out_(out) {}

bool TextMeasureReport::write(const std::string& line) {
  if (!failed_ && !out_.write(line.data(), line.size())) failed_ = true;
  return !failed_;
}

void TextMeasureReport::frame(const FrameMeasure& measure) {
  MeasureTotals::frame(measure);
  if (!heading_written_) {
    std::string heading = "frame";
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      char columns[64];
      std::snprintf(columns, sizeof columns, "%14s%6s%8s",
                    (std::string(1, geometry_.planes[p].letter) + " differing").c_str(), "max",
                    "PSNR");
      heading += columns;
    }
    write(heading + "\n");
    heading_written_ = true;
  }
  if (!per_frame_) return;
  char index[32];
  std::snprintf(index, sizeof index, "%5" PRId64, measure.frame);
  std::string line = index;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    line += plane_columns(measure.planes[p], geometry_.depth, plane_samples(geometry_.planes[p]));
  }
  write(line + "\n");
}

bool TextMeasureReport::finish() {
  if (!heading_written_) return !failed_;  // no frame compared: nothing to total
  std::string line = "total";
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    line += plane_columns(totals()[p].stats, geometry_.depth, totals()[p].samples);
  }
  return write(line + "\n");
}

struct JsonMeasureReport::Frames {
  Json entries = Json::array();
};

JsonMeasureReport::JsonMeasureReport(const FrameGeometry& geometry, const bool per_frame)
    : MeasureTotals(geometry), per_frame_(per_frame), frames_(std::make_unique<Frames>()) {}

JsonMeasureReport::~JsonMeasureReport() = default;

void JsonMeasureReport::frame(const FrameMeasure& measure) {
  MeasureTotals::frame(measure);
  if (!per_frame_) return;
  Json planes = Json::array();
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    planes.push_back(plane_json(geometry_.planes[p].letter, measure.planes[p], geometry_.depth,
                                plane_samples(geometry_.planes[p])));
  }
  frames_->entries.push_back({{"frame", measure.frame}, {"planes", std::move(planes)}});
}

bool JsonMeasureReport::finish(const RunSettings& settings, const ComparisonOutcome& outcome,
                               OutputSink& out) {
  Json planes = Json::array();
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    planes.push_back(plane_json(geometry_.planes[p].letter, totals()[p].stats, geometry_.depth,
                                totals()[p].samples));
  }
  Json first = nullptr;
  if (this->first().found) {
    const FirstDifference& f = this->first();
    first = {{"frame", f.frame},          {"plane", std::string(1, f.plane_letter)},
             {"row", f.position.row},     {"column", f.position.column},
             {"block", f.position.block}, {"test", f.test_sample},
             {"ref", f.ref_sample}};
  }
  Json document = {
      {"test", settings.test_path},
      {"ref", settings.ref_path},
      {"width", settings.width},
      {"height", settings.height},
      {"pix_fmt", settings.format.name},
      {"bit_depth", settings.format.depth},
      {"block", settings.block_size},
      {"tolerance", settings.tolerance},
      {"skip_test", settings.skip_test},
      {"skip_ref", settings.skip_ref},
      {"frames_limit", settings.frames_limit > 0 ? Json(settings.frames_limit) : Json(nullptr)},
      {"verdict", verdict_name(outcome)},
      {"ending", ending_name(outcome.end)},
      {"frames_compared", outcome.frames_compared},
      {"planes", std::move(planes)},
      {"first_difference", std::move(first)},
  };
  if (per_frame_) document["frames"] = std::move(frames_->entries);
  // Paths may hold any bytes; bytes that are not UTF-8 become U+FFFD.
  const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  return out.write(text.data(), text.size());
}

}  // namespace framecmp
