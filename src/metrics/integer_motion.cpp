// libvmaf's motion: the 5-tap blur of the difference between a reference frame and the
// one before, its column pass rounded to the value depth and its row pass to 16 bits,
// summed as absolute values. The blur is linear, so blurring the difference gives what
// blurring both frames would, with one pass less.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "metrics/vmaf_features.h"
#include "metrics/vmaf_kernels.h"

namespace framecmp {
namespace {

constexpr std::size_t kBandCount = 16;

// Mirrors index `i` into [0, n) without repeating the edge.
inline std::int32_t mirror(const std::int32_t i, const std::int32_t n) {
  if (i < 0) return -i;
  if (i >= n) return 2 * n - i - 2;
  return i;
}

}  // namespace

IntegerMotion::IntegerMotion(const std::int32_t width, const std::int32_t height,
                             WorkerPool* const workers)
    : workers_(workers),
      rows_(kBandCount * static_cast<std::size_t>(width + 4)),
      band_sums_(kBandCount),
      band_rows_((height + static_cast<std::int32_t>(kBandCount) - 1) /
                 static_cast<std::int32_t>(kBandCount)) {}

std::uint64_t IntegerMotion::sad(const LumaView& previous, const LumaView& current) {
  const std::int32_t w = current.width, h = current.height;
  const VmafKernels& kernels = active_vmaf_kernels();
  auto band_task = [&](const std::size_t b) {
    // The row with two mirrored samples each side.
    std::int32_t* const row = rows_.data() + b * static_cast<std::size_t>(w + 4) + 2;
    const std::int32_t first = static_cast<std::int32_t>(b) * band_rows_;
    const std::int32_t end = std::min(h, first + band_rows_);
    std::array<const std::uint16_t*, 5> p{}, c{};
    std::uint64_t sum = 0;
    for (std::int32_t i = first; i < end; ++i) {
      for (std::size_t k = 0; k < 5; ++k) {
        const std::size_t at =
            static_cast<std::size_t>(mirror(i - 2 + static_cast<std::int32_t>(k), h)) *
            static_cast<std::size_t>(w);
        p[k] = previous.values + at;
        c[k] = current.values + at;
      }
      if (!kernels.motion_columns(p.data(), c.data(), w, current.depth, row)) continue;
      row[-1] = row[1];
      row[-2] = row[2];
      row[w] = row[w - 2];
      row[w + 1] = row[w - 3];
      sum += kernels.motion_row(row, w);
    }
    band_sums_[b] = sum;
  };
  run_tasks(workers_, kBandCount, band_task);
  std::uint64_t total = 0;
  for (const std::uint64_t sum : band_sums_) total += sum;
  return total;
}

double motion_score(const std::uint64_t sad, const std::int32_t width, const std::int32_t height) {
  const double score =
      static_cast<double>(sad) / 256. /
      static_cast<double>(static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height)) *
      1.0;
  return std::min(score, 10000.0);
}

}  // namespace framecmp
