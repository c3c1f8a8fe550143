// A frame as libvmaf's pictures hold it, for the metrics that must equal libvmaf's: the
// value depth (its bpc), each plane's size (the chroma of 4:2:0 and 4:2:2 cut to
// floor(w/2) and floor(h/2), where framecmp's planes round up) and rows of sample values.
#ifndef FRAMECMP_METRICS_VMAF_PICTURE_H_
#define FRAMECMP_METRICS_VMAF_PICTURE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"

namespace framecmp {

struct VmafPicture {
  int depth = 8;                         // value bits: 8, 10, 12 or 16 where accepted
  bool chroma_halved_across = false;     // 4:2:0 and 4:2:2
  bool chroma_halved_down = false;       // 4:2:0
  std::array<std::int32_t, 3> width{};   // of each plane, as libvmaf cuts it
  std::array<std::int32_t, 3> height{};  // alike
};

// How libvmaf sees frames of `geometry`. Precondition: three planes.
VmafPicture vmaf_picture(const FrameGeometry& geometry);

// Why libvmaf has no picture for frames of `geometry` ("" when it has one): it reads
// three planes of 8, 10, 12 or 16 bits.
std::string refuse_vmaf_picture(const FrameGeometry& geometry);

// The values (the sample's value bits) of samples [first, first + count) of row `row`
// (0-based) of plane `p` of `frame` into `out`. Precondition: they lie in the plane.
void load_values(const FrameGeometry& geometry, std::size_t p, const std::uint8_t* frame,
                 std::int32_t row, std::int32_t count, std::uint16_t* out, std::int32_t first = 0);

// The luma of `frame` as libvmaf's float features read it, into `out` (width x height,
// rows `width` apart): each value as a float, divided to 8-bit scale (by 4 at 10 bits, 16
// at 12, 256 at 16). The rows are shared by `workers` (null: one thread).
void load_luma_as_float(const FrameGeometry& geometry, const std::uint8_t* frame, float* out,
                        WorkerPool* workers);

// An SSIM `score` of frames of `geometry` in decibels as libvmaf's enable_db and clip_db
// give it: -10 log10(1 - score), at most the value of an MSE of 0.5 over the luma's
// samples at libvmaf's peak, rounded up.
double ssim_decibels(const FrameGeometry& geometry, double score);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_VMAF_PICTURE_H_
