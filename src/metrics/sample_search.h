// What the sample walks, the statistics and the reports share: each sample layout's
// statistics kernel and tolerance search, where the first sample beyond the tolerance
// lies, and the bands that cut the planes for the threads.
#ifndef FRAMECMP_METRICS_SAMPLE_SEARCH_H_
#define FRAMECMP_METRICS_SAMPLE_SEARCH_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "input/frame_geometry.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"
#include "metrics/difference.h"
#include "metrics/sample_kernels.h"

namespace framecmp {

namespace compare_detail {

// Index (0..7) of the first differing byte of the words at a + at and b + at, or 8.
inline int first_difference_in_word(const std::uint8_t* a, const std::uint8_t* b,
                                    const std::size_t at) {
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, a + at, sizeof x);
  std::memcpy(&y, b + at, sizeof y);
  const std::uint64_t diff = x ^ y;
  const int bit =
      std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
  return bit / 8;
}

}  // namespace compare_detail

// Index of the first byte in [begin, end) where `a` and `b` differ, or `end` when none does.
// Defined here so that the frame walk gets it inlined: it runs once per differing sample.
[[gnu::always_inline]] inline std::size_t find_difference(const std::uint8_t* const a,
                                                          const std::uint8_t* const b,
                                                          std::size_t begin,
                                                          const std::size_t end) {
  using compare_detail::first_difference_in_word;
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  // Differences cluster, so the next word is looked at by itself first; long equal runs
  // then go to memcmp, which is vectorised, and a chunk that differs is searched a word at
  // a time. Only the last few bytes of the range are walked one by one.
  if (end - begin >= kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
    begin += kWord;
  }
  constexpr std::size_t kChunk = 1024;
  while (end - begin >= kChunk && std::memcmp(a + begin, b + begin, kChunk) == 0) begin += kChunk;
  for (; end - begin >= kWord; begin += kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
  }
  for (; begin < end; ++begin) {
    if (a[begin] != b[begin]) return begin;
  }
  return end;
}

// True when `size` bytes at `offset` lie inside the equal prefix of a frame pair.
inline bool known_equal(const std::size_t equal_prefix, const std::int64_t offset,
                        const std::int64_t size) {
  return offset + size <= static_cast<std::int64_t>(equal_prefix);
}

// Whether the U,V pairs of a pair plane are equal (false for planar formats); the first
// `equal_prefix` bytes of the frames are known to be equal.
bool pair_plane_equal(const FrameGeometry& geometry, const std::uint8_t* test,
                      const std::uint8_t* ref, std::size_t equal_prefix);

// The statistics kernel and the tolerance search of one sample layout.
struct PlaneKernels {
  void (*stats)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t, std::uint32_t,
                SampleStats&);
  std::size_t (*find)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t,
                      std::uint32_t);
};

// The kernels of `plane`'s sample layout.
PlaneKernels kernels_for(const PlaneLayout& plane);

// The kernels of every plane of `geometry`.
std::array<PlaneKernels, 3> kernels_of_planes(const FrameGeometry& geometry);

// The first sample of `plane` beyond `tolerance` (stored units), which must exist, in
// frame `frame` (the test file's index) of the frames `test` and `ref`.
ReportFields locate_first(const FrameGeometry& geometry, const PlaneLayout& plane,
                          const PlaneKernels& kernels, std::int64_t frame, const std::uint8_t* test,
                          const std::uint8_t* ref, std::uint32_t tolerance);

// The first sample of `pair` beyond `tolerance` (stored units), plane by plane in raster
// order, if any.
std::optional<ReportFields> first_beyond(const FrameGeometry& geometry, const FramePair& pair,
                                         std::uint32_t tolerance);

// A plane's run of samples that one thread takes at a time; the threads take the bands in
// any order.
struct Band {
  std::size_t plane;
  std::size_t first_byte;  // of the band's first sample
  std::size_t end_byte;    // past its last sample's bytes, within the plane's span
  std::size_t samples;
  std::ptrdiff_t work_band = -1;  // the band of a metric's band work over the same rows, or -1
};

// The band of `plane` (number p) from sample `first` (0-based), `count` samples.
Band band_of(std::size_t p, const PlaneLayout& plane, std::int64_t first, std::int64_t count,
             std::ptrdiff_t work_band = -1);

// The bands of every plane of `geometry`, in plane order: made once a run.
std::vector<Band> cut_into_bands(const FrameGeometry& geometry);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_SAMPLE_SEARCH_H_
