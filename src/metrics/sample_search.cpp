#include "metrics/sample_search.h"

#include <algorithm>
#include <cstring>

#include "input/pair_reader.h"
#include "metrics/sample_kernels.h"

namespace framecmp {
namespace {

template <class Kind>
constexpr PlaneKernels kernels_of() {
  return {accumulate_stats<Kind>, find_beyond_tolerance<Kind>};
}

}  // namespace

bool pair_plane_equal(const FrameGeometry& geometry, const std::uint8_t* test,
                      const std::uint8_t* ref, const std::size_t equal_prefix) {
  if (geometry.pair_plane_size == 0) return false;
  return known_equal(equal_prefix, geometry.pair_plane_offset, geometry.pair_plane_size) ||
         std::memcmp(test + geometry.pair_plane_offset, ref + geometry.pair_plane_offset,
                     static_cast<std::size_t>(geometry.pair_plane_size)) == 0;
}

PlaneKernels kernels_for(const PlaneLayout& plane) {
  if (plane.bytes_per_sample == 1) {
    return plane.stride == 1 ? kernels_of<OneByte>() : kernels_of<PairByte>();
  }
  return plane.byte_order == ByteOrder::kLittle ? kernels_of<TwoBytesLittle>()
                                                : kernels_of<TwoBytesBig>();
}

std::array<PlaneKernels, 3> kernels_of_planes(const FrameGeometry& geometry) {
  std::array<PlaneKernels, 3> kernels{};
  for (std::size_t p = 0; p < geometry.plane_count; ++p)
    kernels[p] = kernels_for(geometry.planes[p]);
  return kernels;
}

ReportFields locate_first(const FrameGeometry& geometry, const PlaneLayout& plane,
                          const PlaneKernels& kernels, const std::int64_t frame,
                          const std::uint8_t* test, const std::uint8_t* ref,
                          const std::uint32_t tolerance) {
  const auto begin = static_cast<std::size_t>(plane.offset);
  const std::size_t at =
      kernels.find(test, ref, begin, begin + static_cast<std::size_t>(plane.span()), tolerance);
  const auto sample = static_cast<std::int64_t>((at - begin) / plane.stride);
  const auto value = [&](const std::uint8_t* p) {
    return sample_value(geometry, load_sample(p + at, plane.bytes_per_sample, plane.byte_order));
  };
  return {frame, plane.letter, sample_position(geometry, plane, sample), value(test), value(ref)};
}

std::optional<ReportFields> first_beyond(const FrameGeometry& geometry, const FramePair& pair,
                                         const std::uint32_t tolerance) {
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    const PlaneKernels kernels = kernels_for(plane);
    const auto begin = static_cast<std::size_t>(plane.offset);
    const std::size_t end = begin + static_cast<std::size_t>(plane.span());
    if (kernels.find(pair.test.data(), pair.ref.data(), begin, end, tolerance) == end) continue;
    return locate_first(geometry, plane, kernels, pair.index, pair.test.data(), pair.ref.data(),
                        tolerance);
  }
  return std::nullopt;
}

Band band_of(const std::size_t p, const PlaneLayout& plane, const std::int64_t first,
             const std::int64_t count, const std::ptrdiff_t work_band) {
  const std::int64_t span_end = plane.offset + plane.span();
  const std::int64_t first_byte = plane.offset + first * plane.stride;
  return {p, static_cast<std::size_t>(first_byte),
          static_cast<std::size_t>(std::min(span_end, first_byte + count * plane.stride)),
          static_cast<std::size_t>(count), work_band};
}

std::vector<Band> cut_into_bands(const FrameGeometry& geometry) {
  constexpr std::int64_t kBand = std::int64_t{1} << 17;  // samples
  std::vector<Band> bands;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    const std::int64_t samples = std::int64_t{plane.width} * plane.height;
    for (std::int64_t first = 0; first < samples; first += kBand) {
      bands.push_back(band_of(p, plane, first, std::min(kBand, samples - first)));
    }
  }
  return bands;
}

}  // namespace framecmp
