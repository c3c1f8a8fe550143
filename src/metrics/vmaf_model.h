// A VMAF model: which features it reads, how it scales them, its support-vector
// regression and what is done to the prediction, as libvmaf's JSON models describe them.
// Two are built in (vmaf_v0.6.1 and vmaf_v0.6.1neg, whose published figures are carried
// here as data); any other is read from a file.
#ifndef FRAMECMP_METRICS_VMAF_MODEL_H_
#define FRAMECMP_METRICS_VMAF_MODEL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace framecmp {

// The features a model may read.
enum class VmafFeature : std::uint8_t {
  kAdm2,
  kAdm3,
  kAim,
  kAdmScale0,
  kAdmScale1,
  kAdmScale2,
  kAdmScale3,
  kMotion2,
  kMotion3,
  kVifScale0,
  kVifScale1,
  kVifScale2,
  kVifScale3,
  kCount,
};

// A frame's values of every feature, by VmafFeature.
using VmafFeatureValues = std::array<double, static_cast<std::size_t>(VmafFeature::kCount)>;

struct VmafModel {
  std::vector<VmafFeature> features;
  bool rescale = false;                    // features and prediction linearly rescaled
  double slope = 1, intercept = 0;         // of the prediction
  std::vector<double> slopes, intercepts;  // of each feature
  double gamma = 0;                        // the radial basis kernel's
  double rho = 0;
  std::vector<double> coefficients;  // one per support vector
  std::vector<double> vectors;       // features.size() values per support vector
  // The score transform, applied only when the model enables it.
  bool transform = false;
  std::optional<double> p0, p1, p2;
  std::vector<std::pair<double, double>> knots;
  bool out_lte_in = false, out_gte_in = false;
  bool clip = false;
  double clip_min = 0, clip_max = 0;
  // The enhancement gain limits its VIF and ADM features are computed with (1 to 100).
  double vif_gain_limit = 100;
  double adm_gain_limit = 100;
};

// libvmaf's vmaf_v0.6.1 model, or with `negative` its vmaf_v0.6.1neg.
const VmafModel& builtin_vmaf_model(bool negative);

// The model in `json` (libvmaf's JSON model format), or nullopt with `error` saying what
// is wrong with it ("its ... is ...", a phrase without its end).
std::optional<VmafModel> parse_vmaf_model(std::string_view json, std::string& error);

// The model's score of a frame whose features are `values`.
double predict_vmaf(const VmafModel& model, const VmafFeatureValues& values);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_VMAF_MODEL_H_
