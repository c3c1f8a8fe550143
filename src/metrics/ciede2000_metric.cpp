// CIEDE2000 as libvmaf's ciede feature computes it: every luma position's colour in both
// frames (chroma taken from the sample that covers it), from BT.709 Y'CbCr through sRGB
// and XYZ (D65) to CIELAB, the CIEDE2000 difference (kL 0.65, kC 1, kH 4) in libvmaf's mix
// of single and double precision, and 45 - 20 log10 of the mean difference.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "metrics/ciede2000.h"
#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

constexpr std::array<ColumnSpec, 1> kColumns{{
    {"ciede2000", "ciede2000", "ciede2000", 10, ValueKind::kFraction, false, kBelowEverywhere,
     false},
}};

constexpr std::size_t kChunk = 256;  // samples a task loads at a time
constexpr auto kChunkSamples = static_cast<std::int32_t>(kChunk);

// The CIELAB colours of the Y'CbCr values met last, in a table of 2^16 places that a
// colour's hash picks (a newer colour takes its place): neighbouring pixels of a frame
// repeat colours, and a colour costs six powers.
class ColourCache {
 public:
  ColourCache() : places_(std::size_t{1} << 16) {}
  bool find(const std::uint16_t y, const std::uint16_t u, const std::uint16_t v, float& l, float& a,
            float& b) const {
    const std::uint64_t key = key_of(y, u, v);
    const Place& place = places_[index_of(key)];
    if (place.key != key) return false;
    l = place.l, a = place.a, b = place.b;
    return true;
  }
  void insert(const std::uint16_t y, const std::uint16_t u, const std::uint16_t v, const float l,
              const float a, const float b) {
    const std::uint64_t key = key_of(y, u, v);
    places_[index_of(key)] = {key, l, a, b};
  }

 private:
  struct Place {
    std::uint64_t key = 0;  // 0: empty (a key has its top bit set)
    float l = 0, a = 0, b = 0;
  };
  static std::uint64_t key_of(const std::uint16_t y, const std::uint16_t u, const std::uint16_t v) {
    return std::uint64_t{1} << 63 | std::uint64_t{y} << 32 | std::uint64_t{u} << 16 | v;
  }
  static std::size_t index_of(const std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 48);
  }
  std::vector<Place> places_;
};

class Ciede2000Metric final : public FrameMeansMetric {
 public:
  Ciede2000Metric(const FrameGeometry& geometry, WorkerPool* const workers)
      : geometry_(geometry),
        picture_(vmaf_picture(geometry)),
        workers_(workers),
        row_sums_(static_cast<std::size_t>(geometry.height)) {
    const int threads = workers != nullptr ? workers->threads() : 1;
    for (int t = 0; t < threads; ++t) scratch_.push_back(std::make_unique<Scratch>());
  }
  std::span<const ColumnSpec> columns() const override { return kColumns; }

 private:
  void measure_pair(const FrameMeasure& measure, const std::span<Value> cells) override {
    cells[0].number =
        measure.pair != nullptr ? score(*measure.pair) : std::numeric_limits<double>::quiet_NaN();
  }

  // A thread's scratch: a chunk's values and colours, and the colours met so far.
  struct Scratch {
    std::array<std::array<std::uint16_t, kChunk>, 6> values{};
    std::array<std::array<double, 2 * kChunk>, 3> colour{};  // Y', Cb, Cr of the misses
    std::array<std::uint32_t, 2 * kChunk> miss_at{};         // where each miss goes
    std::array<std::array<float, 2 * kChunk>, 3> lab{};      // L, a, b; reference, test
    std::array<std::array<float, 2 * kChunk>, 3> computed{};
    std::array<float, kChunk> differences{};
    ColourCache cache;
  };

  // The chunk's differing pixels' colours into scratch.lab (the reference's at [0, n),
  // the test's at [kChunk, kChunk + n)), from the cache or computed; n.
  std::size_t chunk_colours(const std::int32_t x, const std::int32_t count, const int shift,
                            Scratch& scratch) const {
    const auto& values = scratch.values;
    std::size_t n = 0;
    std::size_t misses = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      const auto c = static_cast<std::size_t>(((x + i) >> shift) - (x >> shift));
      const auto k = static_cast<std::size_t>(i);
      // Equal colours differ by exactly 0.
      if (values[0][k] == values[3][k] && values[1][c] == values[4][c] &&
          values[2][c] == values[5][c]) {
        continue;
      }
      for (std::size_t side = 0; side < 2; ++side) {
        const std::uint16_t y = values[3 * side][k], u = values[3 * side + 1][c],
                            v = values[3 * side + 2][c];
        const std::size_t at = side * kChunk + n;
        if (scratch.cache.find(y, u, v, scratch.lab[0][at], scratch.lab[1][at],
                               scratch.lab[2][at])) {
          continue;
        }
        scratch.colour[0][misses] = y;
        scratch.colour[1][misses] = u;
        scratch.colour[2][misses] = v;
        scratch.miss_at[misses++] = static_cast<std::uint32_t>(at);
      }
      ++n;
    }
    auto& computed = scratch.computed;
    lab_colours(scratch.colour[0].data(), scratch.colour[1].data(), scratch.colour[2].data(),
                misses, picture_.depth,
                {computed[0].data(), computed[1].data(), computed[2].data()});
    for (std::size_t m = 0; m < misses; ++m) {
      const std::size_t at = scratch.miss_at[m];
      for (std::size_t k = 0; k < 3; ++k) scratch.lab[k][at] = computed[k][m];
      scratch.cache.insert(static_cast<std::uint16_t>(scratch.colour[0][m]),
                           static_cast<std::uint16_t>(scratch.colour[1][m]),
                           static_cast<std::uint16_t>(scratch.colour[2][m]), computed[0][m],
                           computed[1][m], computed[2][m]);
    }
    return n;
  }

  // The differences of luma row y summed in double, in order.
  double row_sum(const FramePair& pair, const std::int32_t y, Scratch& scratch) const {
    const std::int32_t chroma_row = picture_.chroma_halved_down ? y / 2 : y;
    const int shift = picture_.chroma_halved_across ? 1 : 0;
    auto& values = scratch.values;
    auto& lab = scratch.lab;
    double sum = 0;
    for (std::int32_t x = 0; x < geometry_.width; x += kChunkSamples) {
      const std::int32_t count = std::min(kChunkSamples, geometry_.width - x);
      const std::int32_t chroma_first = x >> shift;
      const std::int32_t chroma_count = ((x + count - 1) >> shift) - chroma_first + 1;
      for (std::size_t side = 0; side < 2; ++side) {
        const std::uint8_t* const frame = side == 0 ? pair.ref.data() : pair.test.data();
        load_values(geometry_, 0, frame, y, count, values[3 * side].data(), x);
        load_values(geometry_, 1, frame, chroma_row, chroma_count, values[3 * side + 1].data(),
                    chroma_first);
        load_values(geometry_, 2, frame, chroma_row, chroma_count, values[3 * side + 2].data(),
                    chroma_first);
      }
      const std::size_t n = chunk_colours(x, count, shift, scratch);
      colour_differences({lab[0].data(), lab[1].data(), lab[2].data()},
                         {lab[0].data() + kChunk, lab[1].data() + kChunk, lab[2].data() + kChunk},
                         n, scratch.differences.data());
      for (std::size_t i = 0; i < n; ++i) sum += scratch.differences[i];
    }
    return sum;
  }

  double score(const FramePair& pair) {
    // Each thread takes a run of rows, so that its cache meets the colours of neighbours;
    // the rows' sums are added in order whatever the threads.
    const auto slabs = scratch_.size();
    const std::size_t rows = row_sums_.size();
    auto slab = [&](const std::size_t t) {
      for (std::size_t y = t * rows / slabs; y < (t + 1) * rows / slabs; ++y) {
        row_sums_[y] = row_sum(pair, static_cast<std::int32_t>(y), *scratch_[t]);
      }
    };
    run_tasks(workers_, slabs, slab);
    double sum = 0;
    for (const double s : row_sums_) sum += s;
    const double samples = static_cast<double>(static_cast<std::uint32_t>(geometry_.width) *
                                               static_cast<std::uint32_t>(geometry_.height));
    return 45. - 20. * std::log10(sum / samples);
  }

  const FrameGeometry& geometry_;
  VmafPicture picture_;
  WorkerPool* workers_;
  std::vector<double> row_sums_;                   // one a luma row, added in order
  std::vector<std::unique_ptr<Scratch>> scratch_;  // one a thread
};

}  // namespace

std::string refuse_ciede2000(const FrameGeometry& geometry) {
  std::string reason = refuse_vmaf_picture(geometry);
  if (!reason.empty()) return reason;
  const VmafPicture picture = vmaf_picture(geometry);
  if (picture.chroma_halved_across && !picture.chroma_halved_down) {
    return "libvmaf reads 4:2:2 chroma beyond its rows";
  }
  if (picture.chroma_halved_across && (geometry.width % 2 != 0 || geometry.height % 2 != 0)) {
    return "libvmaf reads the chroma of odd-sized 4:2:0 frames beyond its planes";
  }
  return {};
}

std::unique_ptr<MetricValues> make_ciede2000_metric(const FrameGeometry& geometry,
                                                    const MetricChoice& /*choice*/,
                                                    WorkerPool* const workers) {
  return std::make_unique<Ciede2000Metric>(geometry, workers);
}

}  // namespace framecmp
