// CAMBI, libvmaf's banding score of one picture at its defaults: the luma taken to 10
// bits (8-bit pictures smoothed against dither), a mask of flat regions, then at five
// scales a 3x3 mode filter and, per masked sample, how strongly a window around it holds
// neighbouring levels one to four codes apart that a viewer could see as bands; the worst
// 60% of those per scale, weighed towards the fine scales.
#ifndef FRAMECMP_METRICS_CAMBI_H_
#define FRAMECMP_METRICS_CAMBI_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/worker_pool.h"

namespace framecmp {

class Cambi {
 public:
  // For luma planes of `width` x `height`; `workers` may be null (one thread). Keeps a
  // reference to the workers. Precondition: refuse_cambi(width, height) is "".
  Cambi(std::int32_t width, std::int32_t height, WorkerPool* workers);
  // The score of `luma` (width x height values of `depth` bits, rows `width` apart; depth
  // 8, 10, 12 or 16), at most 1000.
  double score(const std::uint16_t* luma, int depth);

 private:
  void prepare(const std::uint16_t* luma, int depth);
  void spatial_mask();
  void decimate(std::int32_t w, std::int32_t h);
  void mode_filter(std::int32_t w, std::int32_t h);
  void c_values(std::int32_t w, std::int32_t h);
  float c_value(const std::uint16_t* hist, std::size_t w, std::size_t column, int level,
                int value) const;
  double pool(std::int32_t w, std::int32_t h);

  std::int32_t width_, height_;
  WorkerPool* workers_;
  int window_;
  std::uint32_t mask_index_;
  std::array<std::uint16_t, 4> tvi_{};  // per contrast step, in values raised by 4
  std::uint16_t band_base_ = 0;         // the lowest value that can matter
  std::uint16_t band_size_ = 0;         // how many values from there can
  std::vector<std::uint16_t> image_;
  std::vector<std::uint16_t> mask_;
  std::vector<std::uint8_t> flat_;          // equal to the right and lower neighbours
  std::vector<std::uint32_t> column_sums_;  // a row of them per band
  std::vector<std::uint16_t> mode_rows_;
  std::vector<float> c_values_;
  std::vector<float> reciprocal_;
  // Per band of rows, the counts of the window's values: band_size_ rows of one count per
  // column, so that bands run apart.
  std::vector<std::vector<std::uint16_t>> histograms_;
};

// Why CAMBI cannot score frames of `width` x `height` ("" when it can): libvmaf refuses
// frames below 216 on both sides, and its window must fit in the smallest scale.
std::string refuse_cambi(std::int32_t width, std::int32_t height);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_CAMBI_H_
