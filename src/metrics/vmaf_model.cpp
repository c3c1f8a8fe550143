#include "metrics/vmaf_model.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include <nlohmann/json.hpp>

namespace framecmp {
namespace {

#include "metrics/vmaf_model_data.inc"

struct FeatureName {
  const char* name;
  VmafFeature feature;
};

constexpr std::array<FeatureName, 13> kFeatureNames{{
    {"VMAF_integer_feature_adm2_score", VmafFeature::kAdm2},
    {"VMAF_integer_feature_adm3_score", VmafFeature::kAdm3},
    {"VMAF_integer_feature_aim_score", VmafFeature::kAim},
    {"integer_adm_scale0", VmafFeature::kAdmScale0},
    {"integer_adm_scale1", VmafFeature::kAdmScale1},
    {"integer_adm_scale2", VmafFeature::kAdmScale2},
    {"integer_adm_scale3", VmafFeature::kAdmScale3},
    {"VMAF_integer_feature_motion2_score", VmafFeature::kMotion2},
    {"VMAF_integer_feature_motion3_score", VmafFeature::kMotion3},
    {"VMAF_integer_feature_vif_scale0_score", VmafFeature::kVifScale0},
    {"VMAF_integer_feature_vif_scale1_score", VmafFeature::kVifScale1},
    {"VMAF_integer_feature_vif_scale2_score", VmafFeature::kVifScale2},
    {"VMAF_integer_feature_vif_scale3_score", VmafFeature::kVifScale3},
}};

std::optional<VmafFeature> feature_named(const std::string_view name) {
  for (const FeatureName& known : kFeatureNames) {
    if (name == known.name) return known.feature;
  }
  return std::nullopt;
}

bool is_vif(const VmafFeature f) {
  return f >= VmafFeature::kVifScale0 && f <= VmafFeature::kVifScale3;
}

bool is_adm(const VmafFeature f) {
  return f <= VmafFeature::kAdmScale3;
}

VmafModel make_builtin(const bool negative) {
  VmafModel model;
  for (const char* name : kV061Features) model.features.push_back(*feature_named(name));
  model.rescale = true;
  model.slope = kV061Slopes[0];
  model.intercept = kV061Intercepts[0];
  model.slopes.assign(kV061Slopes.begin() + 1, kV061Slopes.end());
  model.intercepts.assign(kV061Intercepts.begin() + 1, kV061Intercepts.end());
  model.gamma = kV061Gamma;
  model.rho = kV061Rho;
  for (const auto& vector : kV061Vectors) {
    model.coefficients.push_back(vector[0]);
    model.vectors.insert(model.vectors.end(), vector.begin() + 1, vector.end());
  }
  // Both models keep their score transform disabled, as libvmaf loads them.
  model.p0 = 1.70674692;
  model.p1 = 1.72643844;
  model.p2 = -0.00705305;
  model.out_gte_in = true;
  model.clip = true;
  model.clip_min = 0.0;
  model.clip_max = 100.0;
  if (negative) {
    model.vif_gain_limit = 1.0;
    model.adm_gain_limit = 1.0;
  }
  return model;
}

using Json = nlohmann::json;

// The numbers of `value`, an array of `count` numbers; false when it is not one.
bool read_numbers(const Json& value, const std::size_t count, std::vector<double>& out) {
  if (!value.is_array() || value.size() != count) return false;
  out.clear();
  for (const Json& item : value) {
    if (!item.is_number()) return false;
    out.push_back(item.get<double>());
  }
  return true;
}

// The support-vector regression of libsvm's text in `text`; "" when it is read, else what
// is wrong.
std::string read_svm(const std::string& text, VmafModel& model) {
  std::istringstream in(text);
  std::string line;
  bool vectors = false;
  std::string type, kernel;
  const std::size_t n = model.features.size();
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    if (!vectors) {
      std::string key;
      fields >> key;
      if (key == "SV") {
        vectors = true;
      } else if (key == "svm_type") {
        fields >> type;
      } else if (key == "kernel_type") {
        fields >> kernel;
      } else if (key == "gamma") {
        fields >> model.gamma;
      } else if (key == "rho") {
        fields >> model.rho;
      }
      if (fields.fail()) return "its support vector machine's \"" + key + "\" is not readable";
      continue;
    }
    double coefficient = 0;
    if (!(fields >> coefficient)) return "its support vector \"" + line + "\" is not readable";
    model.coefficients.push_back(coefficient);
    model.vectors.resize(model.vectors.size() + n, 0.0);
    std::string node;
    while (fields >> node) {
      char* end = nullptr;
      const long index = std::strtol(node.c_str(), &end, 10);
      if (*end != ':' || index < 1 || static_cast<std::size_t>(index) > n)
        return "its support vector \"" + line + "\" is not readable";
      const char* value = end + 1;
      const double number = std::strtod(value, &end);
      if (end == value || *end != '\0')
        return "its support vector \"" + line + "\" is not readable";
      model.vectors[model.vectors.size() - n + static_cast<std::size_t>(index) - 1] = number;
    }
  }
  if (type != "nu_svr" || kernel != "rbf")
    return "its support vector machine is not a nu_svr with an rbf kernel";
  if (model.coefficients.empty()) return "it has no support vectors";
  return {};
}

std::string read_feature_options(const Json& dicts, VmafModel& model) {
  if (!dicts.is_array() || dicts.size() != model.features.size())
    return "its \"feature_opts_dicts\" is not one object per feature";
  bool vif_set = false, adm_set = false;
  for (std::size_t i = 0; i < dicts.size(); ++i) {
    if (!dicts[i].is_object()) return "its \"feature_opts_dicts\" holds a non-object";
    for (const auto& [key, value] : dicts[i].items()) {
      const VmafFeature f = model.features[i];
      const bool vif = key == "vif_enhn_gain_limit" && is_vif(f);
      const bool adm = key == "adm_enhn_gain_limit" && is_adm(f);
      if ((!vif && !adm) || !value.is_number())
        return "its feature option \"" + key + "\" is not supported";
      const double limit = value.get<double>();
      if (limit != 1.0 && limit != 100.0)
        return "its feature option \"" + key + "\" is not 1 or 100";
      double& target = vif ? model.vif_gain_limit : model.adm_gain_limit;
      bool& set = vif ? vif_set : adm_set;
      if (set && target != limit) return "its feature option \"" + key + "\" differs by feature";
      target = limit;
      set = true;
    }
  }
  return {};
}

// The knots of a piecewise-linear score mapping: pairs of numbers.
bool read_knots(const Json& value, VmafModel& model) {
  if (!value.is_array()) return false;
  for (const Json& knot : value) {
    if (!knot.is_array() || knot.size() != 2 || !knot[0].is_number() || !knot[1].is_number())
      return false;
    model.knots.emplace_back(knot[0].get<double>(), knot[1].get<double>());
  }
  return true;
}

// One key of a score transform into `model`; false when the key or its value is not one
// libvmaf reads.
bool read_transform_key(const std::string& key, const Json& value, VmafModel& model) {
  if (value.is_null()) return true;
  if (key == "enabled") {
    if (!value.is_boolean()) return false;
    model.transform = value.get<bool>();
    return true;
  }
  if (key == "p0" || key == "p1" || key == "p2") {
    if (!value.is_number()) return false;
    (key == "p0" ? model.p0 : key == "p1" ? model.p1 : model.p2) = value.get<double>();
    return true;
  }
  if (key == "out_lte_in" || key == "out_gte_in") {
    if (!value.is_string()) return false;
    (key == "out_lte_in" ? model.out_lte_in : model.out_gte_in) = value == "true";
    return true;
  }
  return key == "knots" && read_knots(value, model);
}

std::string read_transform(const Json& transform, VmafModel& model) {
  if (!transform.is_object()) return "its \"score_transform\" is not an object";
  for (const auto& [key, value] : transform.items()) {
    if (!read_transform_key(key, value, model)) {
      return "its \"score_transform\" \"" + key + "\" is not supported";
    }
  }
  return {};
}

std::string read_model(const Json& dict, VmafModel& model) {
  if (!dict.is_object()) return "it has no \"model_dict\" object";
  if (dict.value("model_type", "") != "LIBSVMNUSVR") return "its \"model_type\" is not LIBSVMNUSVR";
  const Json names = dict.value("feature_names", Json());
  if (!names.is_array() || names.empty()) return "it has no \"feature_names\"";
  for (const Json& name : names) {
    const auto feature = name.is_string() ? feature_named(name.get<std::string>()) : std::nullopt;
    if (!feature) return "its feature " + name.dump() + " is not one framecmp computes";
    model.features.push_back(*feature);
  }
  const std::string norm = dict.value("norm_type", "none");
  if (norm != "linear_rescale" && norm != "none") return "its \"norm_type\" is not supported";
  model.rescale = norm == "linear_rescale";
  if (model.rescale) {
    std::vector<double> slopes, intercepts;
    if (!read_numbers(dict.value("slopes", Json()), names.size() + 1, slopes) ||
        !read_numbers(dict.value("intercepts", Json()), names.size() + 1, intercepts))
      return "its \"slopes\" or \"intercepts\" are not one more number than its features";
    model.slope = slopes[0];
    model.intercept = intercepts[0];
    model.slopes.assign(slopes.begin() + 1, slopes.end());
    model.intercepts.assign(intercepts.begin() + 1, intercepts.end());
  }
  if (dict.contains("score_clip")) {
    std::vector<double> clip;
    if (!read_numbers(dict["score_clip"], 2, clip)) return "its \"score_clip\" is not two numbers";
    model.clip = true;
    model.clip_min = clip[0];
    model.clip_max = clip[1];
  }
  if (dict.contains("score_transform")) {
    if (std::string error = read_transform(dict["score_transform"], model); !error.empty())
      return error;
  }
  if (dict.contains("feature_opts_dicts")) {
    if (std::string error = read_feature_options(dict["feature_opts_dicts"], model); !error.empty())
      return error;
  }
  const Json svm = dict.value("model", Json());
  if (!svm.is_string()) return "it has no \"model\" text";
  return read_svm(svm.get<std::string>(), model);
}

// libvmaf's piecewise-linear mapping through `knots`, extended past the ends.
double map_through_knots(const double x, const std::vector<std::pair<double, double>>& knots) {
  double y = 0.0;
  for (std::size_t k = 0; k + 1 < knots.size(); ++k) {
    const auto [x0, y0] = knots[k];
    const auto [x1, y1] = knots[k + 1];
    const bool inside = x0 <= x && x <= x1;
    const bool below = k == 0 && x < x0;
    const bool above = k + 2 == knots.size() && x > x1;
    if (y0 == y1) {
      if (inside || below || above) y = y0;
      continue;
    }
    double slope = (y1 - y0) / (x1 - x0), offset = y0 - x0 * slope;
    if (x0 == 0) {
      offset = y0;
      slope = (y1 - offset) / x1;
    }
    if (inside || below || above) y = slope * x + offset;
  }
  return y;
}

double transform_score(const VmafModel& model, const double in) {
  double out = in;
  if (model.p0 || model.p1 || model.p2) {
    out = 0.;
    if (model.p0) out += *model.p0;
    if (model.p1) out += *model.p1 * in;
    if (model.p2) out += *model.p2 * in * in;
  }
  if (model.knots.size() > 1) out = map_through_knots(out, model.knots);
  if (model.out_lte_in && out > in) out = in;
  if (model.out_gte_in && out < in) out = in;
  return out;
}

}  // namespace

const VmafModel& builtin_vmaf_model(const bool negative) {
  static const VmafModel kModel = make_builtin(false);
  static const VmafModel kNegative = make_builtin(true);
  return negative ? kNegative : kModel;
}

std::optional<VmafModel> parse_vmaf_model(const std::string_view json, std::string& error) {
  const Json root = Json::parse(json, nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    error = "it is not JSON";
    return std::nullopt;
  }
  VmafModel model;
  error = read_model(root.value("model_dict", Json()), model);
  if (!error.empty()) return std::nullopt;
  return model;
}

double predict_vmaf(const VmafModel& model, const VmafFeatureValues& values) {
  const std::size_t n = model.features.size();
  std::array<double, static_cast<std::size_t>(VmafFeature::kCount)> x{};
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = values[static_cast<std::size_t>(model.features[i])];
    if (model.rescale) x[i] = model.slopes[i] * x[i] + model.intercepts[i];
  }
  double sum = 0;
  for (std::size_t k = 0; k < model.coefficients.size(); ++k) {
    const double* const vector = model.vectors.data() + k * n;
    double distance = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double d = x[i] - vector[i];
      distance += d * d;
    }
    sum += model.coefficients[k] * std::exp(-model.gamma * distance);
  }
  double prediction = sum - model.rho;
  if (model.rescale) prediction = (prediction - model.intercept) / model.slope;
  if (model.transform) prediction = transform_score(model, prediction);
  if (model.clip) {
    prediction = prediction < model.clip_min ? model.clip_min : prediction;
    prediction = prediction > model.clip_max ? model.clip_max : prediction;
  }
  return prediction;
}

}  // namespace framecmp
