// VMAF and VMAF NEG as libvmaf computes them by default: the vmaf_v0.6.1 model (or the one
// --vmaf-model reads) and vmaf_v0.6.1neg over the integer VIF, ADM and motion features,
// with every feature the vmaf tool logs beside them. A frame's motion2 is the smaller of
// its motion and the next frame's, so its values come one pair late; only the previous
// reference luma and one frame's features are kept.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/vmaf_features.h"
#include "metrics/vmaf_model.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

constexpr std::uint8_t kFeatureColumn = kInCsv | kInJson | kInVmafLog;
constexpr std::uint8_t kLateFeatureColumn = kFeatureColumn | kLateInVmafLog;
constexpr std::uint8_t kScoreColumn = kBelowEverywhere | kLateInVmafLog;

// The features' keys, for the default gain limits and for limits of 1.
constexpr std::array<std::array<const char*, 7>, 2> kAdmKeys{{
    {"integer_adm2", "integer_aim", "integer_adm3", "integer_adm_scale0", "integer_adm_scale1",
     "integer_adm_scale2", "integer_adm_scale3"},
    {"integer_adm2_egl_1", "integer_aim_egl_1", "integer_adm3_egl_1", "integer_adm_scale0_egl_1",
     "integer_adm_scale1_egl_1", "integer_adm_scale2_egl_1", "integer_adm_scale3_egl_1"},
}};
constexpr std::array<std::array<const char*, 4>, 2> kVifKeys{{
    {"integer_vif_scale0", "integer_vif_scale1", "integer_vif_scale2", "integer_vif_scale3"},
    {"integer_vif_scale0_egl_1", "integer_vif_scale1_egl_1", "integer_vif_scale2_egl_1",
     "integer_vif_scale3_egl_1"},
}};
constexpr const char* kMotionKey = "VMAF_integer_feature_motion_sad_score";
constexpr std::array<const char*, 2> kScoreKeys{"vmaf", "vmaf_neg"};
constexpr double kMotionMax = 10000.0;

ColumnSpec column(const char* key, const std::uint8_t places) {
  return {key, key, key, 10, ValueKind::kFraction, false, places, false};
}

// Which of the two feature sets (default limits, limits of 1) a model reads.
std::size_t feature_set(const VmafModel& model) {
  return model.vif_gain_limit == 1.0 ? 1 : 0;
}

class VmafMetric final : public MetricValues {
 public:
  // `models[0]` gives "vmaf", `models[1]` "vmaf_neg"; either may be null.
  VmafMetric(const FrameGeometry& geometry, WorkerPool* const workers,
             const std::array<const VmafModel*, 2>& models)
      : geometry_(geometry),
        workers_(workers),
        models_(models),
        width_(geometry.width),
        height_(geometry.height),
        depth_(vmaf_picture(geometry).depth),
        vif_(width_, height_, workers),
        adm_(width_, height_, workers),
        motion_(width_, height_, workers),
        ref_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)),
        dis_(ref_.size()),
        previous_(ref_.size()) {
    for (const VmafModel* model : models_) {
      if (model == nullptr) continue;
      const std::size_t set = feature_set(*model);
      if (std::find(sets_.begin(), sets_.begin() + set_count_, set) == sets_.begin() + set_count_)
        sets_[set_count_++] = set;
    }
    std::sort(sets_.begin(), sets_.begin() + set_count_);
    for (std::size_t i = 0; i < set_count_; ++i) {
      limits_[i] = sets_[i] == 0 ? 100.0 : 1.0;
      for (const char* key : kAdmKeys[sets_[i]]) columns_.push_back(column(key, kFeatureColumn));
      if (i == 0) columns_.push_back(column(kMotionKey, kFeatureColumn));
      for (const char* key : kVifKeys[sets_[i]]) columns_.push_back(column(key, kFeatureColumn));
    }
    columns_.push_back(column("integer_motion2", kLateFeatureColumn));
    columns_.push_back(column("integer_motion3", kLateFeatureColumn));
    for (std::size_t m = 0; m < 2; ++m) {
      if (models_[m] != nullptr) columns_.push_back(column(kScoreKeys[m], kScoreColumn));
    }
    sums_.resize(columns_.size());
  }

  std::span<const ColumnSpec> columns() const override { return columns_; }
  int delay() const override { return 1; }

  void frame(const FrameMeasure& measure, const std::span<Value> cells) override {
    Features current;
    current.index = booked_++;
    if (measure.pair != nullptr) measure_pair(*measure.pair, current);
    if (held_) give(*held_, current.valid ? std::optional(current.motion) : std::nullopt, cells);
    held_ = current;
  }

  void flush(const std::span<Value> cells) override {
    if (held_) give(*held_, std::nullopt, cells);
    held_.reset();
  }

  void total(const std::span<Value> cells) const override {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      cells[3 * c].number = given_ > 0 ? sums_[c] / static_cast<double>(given_)
                                       : std::numeric_limits<double>::quiet_NaN();
    }
  }

 private:
  // A frame's features while it waits for the next frame's motion.
  struct Features {
    std::int64_t index = 0;  // among the pairs measured
    bool valid = false;
    std::array<VifScales, 2> vif{};
    std::array<AdmScores, 2> adm{};
    double motion = 0;
  };

  void load(const std::uint8_t* frame, std::vector<std::uint16_t>& out) {
    auto row = [&](const std::size_t y) {
      load_values(geometry_, 0, frame, static_cast<std::int32_t>(y), width_,
                  out.data() + y * static_cast<std::size_t>(width_));
    };
    run_tasks(workers_, static_cast<std::size_t>(height_), row);
  }

  void measure_pair(const FramePair& pair, Features& features) {
    load(pair.ref.data(), ref_);
    load(pair.test.data(), dis_);
    const LumaView ref{ref_.data(), width_, height_, depth_};
    const LumaView dis{dis_.data(), width_, height_, depth_};
    const std::span<const double> limits(limits_.data(), set_count_);
    vif_.measure(ref, dis, limits, std::span(features.vif).first(set_count_));
    adm_.measure(ref, dis, limits, std::span(features.adm).first(set_count_));
    if (features.index > 0 && have_previous_) {
      const LumaView previous{previous_.data(), width_, height_, depth_};
      features.motion = motion_score(motion_.sad(previous, ref), width_, height_);
    }
    std::swap(previous_, ref_);
    have_previous_ = true;
    features.valid = true;
  }

  // The values of `f`, whose next frame's motion is `next` (none after the last frame),
  // into `cells`, and booked.
  void give(const Features& f, const std::optional<double> next, const std::span<Value> cells) {
    std::size_t c = 0;
    const auto put = [&](const double value) {
      cells[3 * c].number = f.valid ? value : std::numeric_limits<double>::quiet_NaN();
      if (f.valid) sums_[c] += value;
      ++c;
    };
    double motion2 = 0, motion3 = 0;
    if (f.index == 0) {
      motion3 = next ? std::min(*next, kMotionMax) : 0.0;
    } else {
      motion2 = next ? std::min(f.motion, *next) : f.motion;
      motion3 = std::min(motion2, kMotionMax);
    }
    std::array<VmafFeatureValues, 2> values{};
    for (std::size_t i = 0; i < set_count_; ++i) {
      const AdmScores& adm = f.adm[i];
      const VifScales& vif = f.vif[i];
      VmafFeatureValues& v = values[sets_[i]];
      v = {adm.adm2,
           adm.adm3,
           adm.aim,
           adm.scale[0],
           adm.scale[1],
           adm.scale[2],
           adm.scale[3],
           motion2,
           motion3,
           0,
           0,
           0,
           0};
      for (std::size_t k = 0; k < 4; ++k) {
        v[static_cast<std::size_t>(VmafFeature::kVifScale0) + k] = vif.num[k] / vif.den[k];
      }
      for (const double value :
           {adm.adm2, adm.aim, adm.adm3, adm.scale[0], adm.scale[1], adm.scale[2], adm.scale[3]}) {
        put(value);
      }
      if (i == 0) put(f.motion);
      for (std::size_t k = 0; k < 4; ++k) {
        put(v[static_cast<std::size_t>(VmafFeature::kVifScale0) + k]);
      }
    }
    put(motion2);
    put(motion3);
    for (const VmafModel* model : models_) {
      if (model != nullptr) put(predict_vmaf(*model, values[feature_set(*model)]));
    }
    if (f.valid) ++given_;
  }

  const FrameGeometry& geometry_;
  WorkerPool* workers_;
  std::array<const VmafModel*, 2> models_;
  std::int32_t width_, height_;
  int depth_;
  std::array<std::size_t, 2> sets_{};
  std::array<double, 2> limits_{};
  std::size_t set_count_ = 0;
  std::vector<ColumnSpec> columns_;
  IntegerVif vif_;
  IntegerAdm adm_;
  IntegerMotion motion_;
  std::vector<std::uint16_t> ref_, dis_, previous_;
  bool have_previous_ = false;
  std::optional<Features> held_;
  std::int64_t booked_ = 0;
  std::vector<double> sums_;
  std::uint64_t given_ = 0;
};

const VmafModel* chosen_model(const MetricChoice& choice) {
  if (!metric_chosen(choice, "vmaf")) return nullptr;
  return choice.vmaf_model ? choice.vmaf_model.get() : &builtin_vmaf_model(false);
}

}  // namespace

std::string refuse_vmaf(const FrameGeometry& geometry) {
  std::string reason = refuse_vmaf_picture(geometry);
  if (reason.empty() &&
      (geometry.width < kVmafFeaturesMinSide || geometry.height < kVmafFeaturesMinSide)) {
    reason = "its filters and wavelets need frames of at least " +
             std::to_string(kVmafFeaturesMinSide) + "x" + std::to_string(kVmafFeaturesMinSide);
  }
  return reason;
}

std::unique_ptr<MetricValues> make_vmaf_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice,
                                               WorkerPool* const workers) {
  const VmafModel* negative =
      metric_chosen(choice, "vmaf-neg") ? &builtin_vmaf_model(true) : nullptr;
  return std::make_unique<VmafMetric>(geometry, workers,
                                      std::array{chosen_model(choice), negative});
}

std::unique_ptr<MetricValues> make_vmaf_neg_metric(const FrameGeometry& geometry,
                                                   const MetricChoice& choice,
                                                   WorkerPool* const workers) {
  // With vmaf chosen, its metric gives VMAF NEG too, sharing the motion.
  if (metric_chosen(choice, "vmaf")) return nullptr;
  return std::make_unique<VmafMetric>(
      geometry, workers, std::array<const VmafModel*, 2>{nullptr, &builtin_vmaf_model(true)});
}

}  // namespace framecmp
