#include "metrics/cambi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace framecmp {
namespace {

constexpr int kScales = 5;
constexpr std::array<int, kScales> kScaleWeights{16, 8, 4, 2, 1};
constexpr std::array<int, 4> kContrastWeights{1, 2, 3, 4};
constexpr int kDiffs = 4;  // contrast steps of 1 to 4 codes
constexpr int kMaskSize = 7;
constexpr double kTviThreshold = 0.019;
constexpr double kTopK = 0.6;
constexpr double kMaxScore = 1000.0;
constexpr int kFoot = 64, kHead = 940;  // limited range at 10 bits
constexpr std::size_t kBandCount = 4;

// BT.1886 luminance of a 10-bit limited-range code, in cd/m^2.
double luminance(const int sample) {
  const int clipped = std::clamp(sample, kFoot, kHead);
  const double v = static_cast<double>(clipped - kFoot) / (kHead - kFoot);
  constexpr double kGamma = 2.4, kWhite = 300.0, kBlack = 0.01;
  const double a =
      std::pow(std::pow(kWhite, 1.0 / kGamma) - std::pow(kBlack, 1.0 / kGamma), kGamma);
  const double b = std::pow(kBlack, 1.0 / kGamma) /
                   (std::pow(kWhite, 1.0 / kGamma) - std::pow(kBlack, 1.0 / kGamma));
  return a * std::pow(std::max(v + b, 0.0), kGamma);
}

bool visible(const int sample, const int diff) {
  const double mean = luminance(sample);
  return luminance(sample + diff) - mean > kTviThreshold * mean;
}

// -1: a step of `diff` at `sample` is visible already one code lower... as libvmaf's
// bisection reads it: 1 too small, -1 too big, 0 the last code where the step shows.
int bisect_flag(const int sample, const int diff) {
  if (!visible(sample, diff)) return -1;
  if (visible(sample + 1, diff)) return 1;
  return 0;
}

// The highest code at which a step of `diff` codes is still visible.
int tvi_for_diff(const int diff) {
  int foot = kFoot, head = kHead - diff - 1;
  int flag = bisect_flag(foot, diff);
  if (flag < 0) return 0;
  if (flag == 0) return foot;
  flag = bisect_flag(head, diff);
  if (flag > 0) return 1023;
  if (flag == 0) return head;
  for (;;) {
    const int mid = foot + (head - foot) / 2;
    flag = bisect_flag(mid, diff);
    if (flag == 0) return mid;
    (flag < 0 ? head : foot) = mid;
  }
}

int window_size(const std::int32_t width, const std::int32_t height) {
  auto window =
      static_cast<std::uint16_t>(((65u * static_cast<std::uint32_t>(width + height)) / 375) >> 4);
  return window | 1;
}

std::uint16_t ceil_log2(std::uint32_t n) {
  if (n == 0) return 0;
  std::uint16_t shift = 0;
  for (std::uint32_t rest = n - 1; rest > 0; rest >>= 1) ++shift;
  return shift;
}

std::uint16_t mode3(const std::uint16_t a, const std::uint16_t b, const std::uint16_t c) {
  if (a == b || a == c) return a;
  if (b == c) return b;
  return std::min({a, b, c});
}

std::int32_t halved(const std::int32_t side) {
  return (side + 1) >> 1;
}

// libvmaf's partial sort: the k largest first, in the order its partitioning leaves them
// (their sum in double depends on it).
void quick_select(float* values, const int n, const int k) {
  if (n == k) return;
  int left = 0, right = n - 1;
  while (left < right) {
    const float pivot = values[k];
    int i = left, j = right;
    do {
      while (values[i] > pivot) ++i;
      while (values[j] < pivot) --j;
      if (i <= j) {
        std::swap(values[i], values[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j < k) left = i;
    if (k < i) right = j;
  }
}

}  // namespace

std::string refuse_cambi(const std::int32_t width, const std::int32_t height) {
  if (width < 216 && height < 216) return "libvmaf needs frames of at least 216 on one side";
  std::int32_t w = width, h = height;
  for (int s = 1; s < kScales; ++s) {
    w = halved(w);
    h = halved(h);
  }
  const int window = window_size(width, height);
  if (w < window || h < window) {
    return "its " + std::to_string(window) + "-sample window must fit in the frame's 1/16 (" +
           std::to_string(w) + "x" + std::to_string(h) + ")";
  }
  return {};
}

Cambi::Cambi(const std::int32_t width, const std::int32_t height, WorkerPool* const workers)
    : width_(width),
      height_(height),
      workers_(workers),
      window_(window_size(width, height)),
      histograms_(kBandCount) {
  const std::uint32_t shifted =
      static_cast<std::uint32_t>(width >> 6) * static_cast<std::uint32_t>(height >> 6);
  mask_index_ =
      static_cast<std::uint32_t>((kMaskSize * kMaskSize + 3 * (ceil_log2(shifted) - 11) - 1) >> 1);
  for (int d = 0; d < kDiffs; ++d) {
    tvi_[static_cast<std::size_t>(d)] = static_cast<std::uint16_t>(tvi_for_diff(d + 1) + kDiffs);
  }
  // The visibility threshold is 0 cd/m^2, so no code lies below it (libvmaf's vlt_luma 0).
  const int lowest = 0 - 3 * kDiffs + 1;
  band_base_ = static_cast<std::uint16_t>(std::max(lowest, 0));
  band_size_ = static_cast<std::uint16_t>(tvi_[kDiffs - 1] + 1 - band_base_);
  const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  image_.resize(samples);
  mask_.resize(samples);
  flat_.resize(samples);
  column_sums_.resize(kBandCount * static_cast<std::size_t>(width));
  c_values_.resize(samples);
  mode_rows_.resize(3 * static_cast<std::size_t>(width));
  const std::size_t largest_count =
      static_cast<std::size_t>(window_) * static_cast<std::size_t>(window_) * 2 + 2;
  reciprocal_.resize(largest_count);
  // libvmaf's table holds 1/i written to nine significant digits, read back as float:
  // 42 of its entries differ from 1.0f / i in the last bit.
  for (std::size_t i = 1; i < reciprocal_.size(); ++i) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.9g", 1.0 / static_cast<double>(i));
    reciprocal_[i] = std::strtof(digits, nullptr);
  }
  for (std::vector<std::uint16_t>& histogram : histograms_) {
    histogram.resize(static_cast<std::size_t>(band_size_) * static_cast<std::size_t>(width));
  }
}

void Cambi::prepare(const std::uint16_t* const luma, const int depth) {
  const std::size_t w = static_cast<std::size_t>(width_), h = static_cast<std::size_t>(height_);
  for (std::size_t i = 0; i < w * h; ++i) {
    const unsigned v = luma[i];
    if (depth <= 8) {
      image_[i] = static_cast<std::uint16_t>(v << (10 - depth));
    } else {
      const int shift = depth - 10;
      const unsigned round = shift == 0 ? 0 : 1u << (shift - 1);
      image_[i] = static_cast<std::uint16_t>((v + round) >> shift);
    }
  }
  if (depth >= 10) return;
  // Against dither: each value with its right, lower and lower-right neighbours, in place
  // but reading only values not yet replaced.
  std::uint16_t* const d = image_.data();
  for (std::size_t i = 0; i + 1 < h; ++i) {
    for (std::size_t j = 0; j + 1 < w; ++j) {
      d[i * w + j] = static_cast<std::uint16_t>(
          (d[i * w + j] + d[i * w + j + 1] + d[(i + 1) * w + j] + d[(i + 1) * w + j + 1]) >> 2);
    }
    d[i * w + w - 1] = static_cast<std::uint16_t>((d[i * w + w - 1] + d[(i + 1) * w + w - 1]) >> 1);
  }
  for (std::size_t j = 0; j + 1 < w; ++j) {
    d[(h - 1) * w + j] =
        static_cast<std::uint16_t>((d[(h - 1) * w + j] + d[(h - 1) * w + j + 1]) >> 1);
  }
}

// Marks the samples whose 7x7 neighbourhood is flat enough: more than mask_index_ of its
// samples equal their right and lower neighbours (the frame's edges count as equal,
// samples beyond them as not).
void Cambi::spatial_mask() {
  const std::int32_t w = width_, h = height_;
  const std::size_t stride = static_cast<std::size_t>(w);
  const std::uint16_t* const img = image_.data();
  const std::int32_t per =
      (h + static_cast<std::int32_t>(kBandCount) - 1) / static_cast<std::int32_t>(kBandCount);
  auto flat_rows = [&](const std::size_t b) {
    const std::int32_t first = static_cast<std::int32_t>(b) * per;
    for (std::int32_t r = first; r < std::min(h, first + per); ++r) {
      for (std::int32_t c = 0; c < w; ++c) {
        const std::size_t at = static_cast<std::size_t>(r) * stride + static_cast<std::size_t>(c);
        const bool across = c == w - 1 || img[at] == img[at + 1];
        const bool down = r == h - 1 || img[at] == img[at + stride];
        flat_[at] = across && down ? 1 : 0;
      }
    }
  };
  run_tasks(workers_, kBandCount, flat_rows);
  constexpr int kHalf = kMaskSize / 2;
  auto mask_rows = [&](const std::size_t b) {
    const std::int32_t first = static_cast<std::int32_t>(b) * per;
    std::uint32_t* const columns = column_sums_.data() + b * stride;
    for (std::int32_t r = first; r < std::min(h, first + per); ++r) {
      // The column sums of the 7 rows around r, then a running sum along the row.
      for (std::size_t c = 0; c < stride; ++c) {
        std::uint32_t sum = 0;
        for (std::int32_t k = std::max(r - kHalf, 0); k <= std::min(r + kHalf, h - 1); ++k) {
          sum += flat_[static_cast<std::size_t>(k) * stride + c];
        }
        columns[c] = sum;
      }
      std::uint32_t window = 0;
      for (std::int32_t c = 0; c < kHalf && c < w; ++c) window += columns[c];
      for (std::int32_t c = 0; c < w; ++c) {
        if (c + kHalf < w) window += columns[c + kHalf];
        if (c - kHalf - 1 >= 0) window -= columns[c - kHalf - 1];
        mask_[static_cast<std::size_t>(r) * stride + static_cast<std::size_t>(c)] =
            window > mask_index_ ? 1 : 0;
      }
    }
  };
  run_tasks(workers_, kBandCount, mask_rows);
}

void Cambi::decimate(const std::int32_t w, const std::int32_t h) {
  const std::size_t stride = static_cast<std::size_t>(width_);
  for (std::size_t i = 0; i < static_cast<std::size_t>(h); ++i) {
    for (std::size_t j = 0; j < static_cast<std::size_t>(w); ++j) {
      image_[i * stride + j] = image_[2 * i * stride + 2 * j];
      mask_[i * stride + j] = mask_[2 * i * stride + 2 * j];
    }
  }
}

// libvmaf's 3x3 mode: along each row, then down the columns, leaving the first and last
// rows as they were.
void Cambi::mode_filter(const std::int32_t w, const std::int32_t h) {
  const std::size_t stride = static_cast<std::size_t>(width_);
  const std::size_t n = static_cast<std::size_t>(w);
  std::uint16_t* const data = image_.data();
  for (std::size_t i = 0; i < static_cast<std::size_t>(h); ++i) {
    std::uint16_t* const line = mode_rows_.data() + (i % 3) * n;
    const std::uint16_t* const row = data + i * stride;
    line[0] = row[0];
    for (std::size_t j = 1; j + 1 < n; ++j) line[j] = mode3(row[j - 1], row[j], row[j + 1]);
    line[n - 1] = row[n - 1];
    if (i < 2) continue;
    const std::uint16_t* const a = mode_rows_.data();
    for (std::size_t j = 0; j < n; ++j) {
      data[(i - 1) * stride + j] = mode3(a[j], a[n + j], a[2 * n + j]);
    }
  }
}

// The banding strength of a sample of `value` (raised by 4) at `level` of the counts
// `hist` (rows of `w` columns), at `column`: the strongest neighbouring level one to four
// codes away that is visible there, weighed by how the two levels share the window.
float Cambi::c_value(const std::uint16_t* hist, const std::size_t w, const std::size_t column,
                     const int level, const int value) const {
  const auto at_level = [&](const int l) -> unsigned {
    return hist[static_cast<std::size_t>(l) * w + column];
  };
  const unsigned p0 = at_level(level);
  float best = 0.0f;
  for (int d = 0; d < kDiffs; ++d) {
    if (value > tvi_[static_cast<std::size_t>(d)] || value + d + 1 <= 0) continue;
    const unsigned p1 = at_level(level + d + 1);
    const unsigned p2 = level - d - 1 >= 0 ? at_level(level - d - 1) : 0;
    const unsigned p = p1 > p2 ? p1 : p2;
    const float v = static_cast<float>(kContrastWeights[static_cast<std::size_t>(d)] *
                                       static_cast<int>(p0 * p)) *
                    reciprocal_[p + p0];
    if (v > best) best = v;
  }
  return best;
}

// The banding strength of every masked sample of the w x h scale.
void Cambi::c_values(const std::int32_t w, const std::int32_t h) {
  const std::size_t stride = static_cast<std::size_t>(width_);
  const int pad = window_ >> 1;
  const std::uint16_t* const img = image_.data();
  const std::uint16_t* const msk = mask_.data();
  auto band = [&](const std::size_t b) {
    const std::int32_t per =
        (h + static_cast<std::int32_t>(kBandCount) - 1) / static_cast<std::int32_t>(kBandCount);
    const std::int32_t first = static_cast<std::int32_t>(b) * per;
    const std::int32_t end = std::min(h, first + per);
    if (first >= end) return;
    std::uint16_t* const hist = histograms_[b].data();
    std::fill(hist, hist + static_cast<std::size_t>(band_size_) * static_cast<std::size_t>(w), 0);
    // Counts sample (r, c) into (sign +1) or out of (-1) the windows of columns c - pad
    // to c + pad.
    const auto count = [&](const std::int32_t r, const std::int32_t c, const int sign) {
      const std::size_t at = static_cast<std::size_t>(r) * stride + static_cast<std::size_t>(c);
      if (msk[at] == 0) return;
      const auto level = static_cast<std::uint16_t>(img[at] - band_base_);
      if (level >= band_size_) return;
      std::uint16_t* const counts =
          hist + static_cast<std::size_t>(level) * static_cast<std::size_t>(w);
      const std::int32_t left = std::max(c - pad, 0), right = std::min(c + pad + 1, w);
      for (std::int32_t k = left; k < right; ++k) {
        counts[k] = static_cast<std::uint16_t>(counts[k] + sign);
      }
    };
    const auto count_row = [&](const std::int32_t r, const int sign) {
      if (r < 0 || r >= h) return;
      for (std::int32_t c = 0; c < w; ++c) count(r, c, sign);
    };
    for (std::int32_t r = first - pad; r < first + pad; ++r) count_row(r, 1);
    const std::uint16_t offset = static_cast<std::uint16_t>(band_base_ + kDiffs);
    for (std::int32_t i = first; i < end; ++i) {
      count_row(i + pad, 1);
      if (i > first) count_row(i - pad - 1, -1);
      float* const out =
          c_values_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(w);
      for (std::int32_t c = 0; c < w; ++c) {
        const std::size_t at = static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(c);
        out[c] = 0.0f;
        if (msk[at] == 0) continue;
        const int value = img[at] + kDiffs;
        const int level = value - offset;
        if (level < 0 || level >= band_size_) continue;
        out[c] =
            c_value(hist, static_cast<std::size_t>(w), static_cast<std::size_t>(c), level, value);
      }
    }
  };
  run_tasks(workers_, kBandCount, band);
}

double Cambi::pool(const std::int32_t w, const std::int32_t h) {
  const int n = w * h;
  const int k = std::clamp(static_cast<int>(kTopK * n), 1, n);
  quick_select(c_values_.data(), n, k);
  double sum = 0;
  for (int i = 0; i < k; ++i) sum += c_values_[static_cast<std::size_t>(i)];
  return sum / k;
}

double Cambi::score(const std::uint16_t* const luma, const int depth) {
  prepare(luma, depth);
  spatial_mask();
  std::int32_t w = width_, h = height_;
  double score = 0.0;
  for (int scale = 0; scale < kScales; ++scale) {
    if (scale > 0) {
      w = halved(w);
      h = halved(h);
      decimate(w, h);
    }
    mode_filter(w, h);
    c_values(w, h);
    score += pool(w, h) * kScaleWeights[static_cast<std::size_t>(scale)];
  }
  const int side = 2 * (window_ >> 1) + 1;
  return std::min(score / (side * side), kMaxScore);
}

}  // namespace framecmp
