#include "metrics/pair_metrics.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "report/report_line.h"
#include "metrics/sample_kernels.h"
#include "base/worker_pool.h"

namespace framecmp {

// Where the walk of a frame stands. The hot loop keeps the count and the output cursor
// here rather than in the metric and the writer: stores through a char pointer would
// otherwise force them to be reloaded from memory after every line.
struct SampleLines::WalkState {
  std::int64_t mismatches;  // lines produced over the run
  char* out;                // the report writer's cursor
  std::size_t from;         // the plane's byte where the walk begins: no sample before it
                            // differs beyond the tolerance
};

namespace {

// A plane's start for a walk that has nothing to walk.
constexpr std::size_t kNothingBeyond = SIZE_MAX;

}  // namespace

// Everything a plane walk needs besides the plane.
struct SampleLines::Walk {
  const FrameGeometry& geometry;
  std::int64_t frame;  // 0-based index printed in the lines
  std::int64_t cap;    // line count at which the walk stops
  std::uint32_t tolerance;
  const std::uint8_t* test;
  const std::uint8_t* ref;
};

namespace {

using FrameWalk = SampleLines::Walk;
using WalkState = SampleLines::WalkState;
using PlaneWalker = SampleLines::PlaneWalker;

// What the hot loop needs of a plane, held by value: the report's stores through a char
// pointer could alias the geometry, which would otherwise be reloaded after every line.
struct PlaneGrid {
  std::int64_t width;           // samples per row
  std::int64_t blocks_per_row;  // of the frame
  std::int64_t origin_row;      // of the plane's first sample in the whole frame
  std::int64_t origin_column;
  std::int64_t column_end;  // past the plane's last column, in the whole frame
  int block_shift_x;
  int block_shift_y;
  char letter;

  PlaneGrid(const FrameGeometry& geometry, const PlaneLayout& plane)
      : width(plane.width),
        blocks_per_row(geometry.blocks_per_row),
        origin_row(plane.origin_row),
        origin_column(plane.origin_column),
        column_end(std::int64_t{plane.origin_column} + plane.width),
        block_shift_x(plane.block_shift_x),
        block_shift_y(plane.block_shift_y),
        letter(plane.letter) {}
};

// Moves `position` (in the whole frame) from sample `from` to sample `to` (to > from) of a
// plane; the common step within a row needs no division.
void advance_position(SamplePosition& position, const std::int64_t from, const std::int64_t to,
                      const PlaneGrid& grid) {
  const std::int64_t column = position.column + (to - from);
  if (column < grid.column_end) {
    position.column = static_cast<std::int32_t>(column);
  } else {
    position.row = static_cast<std::int32_t>(to / grid.width + grid.origin_row);
    position.column = static_cast<std::int32_t>(to % grid.width + grid.origin_column);
  }
  position.block = std::int64_t{position.row >> grid.block_shift_y} * grid.blocks_per_row +
                   (position.column >> grid.block_shift_x);
}

// Reports the samples of one plane that differ by more than the tolerance. Stops when
// `cap` lines were reached or the report failed. kTolerant selects the search that skips
// samples within a tolerance a block at a time; without it, equal bytes are skipped.
template <class Kind, int kSampleWidth, bool kTolerant>
bool walk_plane(const FrameWalk& walk, const PlaneLayout& plane, WalkState& state,
                ReportWriter& report) {
  using Line = MinimumWidthLine<kSampleWidth>;
  constexpr bool kSamplesAlwaysFit = Kind::kMaxValue < Line::kSampleLimit;
  const char* const room_end = report.room_end();
  const auto begin = static_cast<std::size_t>(plane.offset);
  const auto end = begin + static_cast<std::size_t>(plane.span());
  // Locals, not references, for everything the loop reads (see PlaneGrid).
  const PlaneGrid grid(walk.geometry, plane);
  const std::int64_t frame = walk.frame;
  const std::int64_t cap = walk.cap;
  const std::uint32_t tolerance = walk.tolerance;
  const std::uint8_t* const test = walk.test;
  const std::uint8_t* const ref = walk.ref;
  const auto search = [&](const std::size_t from) {
    if constexpr (kTolerant) {
      return find_beyond_tolerance<Kind>(test, ref, from, end, tolerance);
    } else {
      return find_difference(test, ref, from, end);
    }
  };
  std::int64_t mismatches = state.mismatches;
  char* out = state.out;
  SamplePosition position;  // of sample `last`, in the whole frame
  position.row = static_cast<std::int32_t>(grid.origin_row);
  position.column = static_cast<std::int32_t>(grid.origin_column);
  std::int64_t last = 0;
  // Decided once per plane, so that the common case formats without a width test per line.
  const bool minimum_width = fits_minimum_width(walk.geometry, plane, frame);
  bool stopped = false;
  for (std::size_t at = search(state.from); at != end;) {
    const std::size_t offset = at - begin;
    if (!kTolerant && Kind::kOddBytesAreOther && offset % Kind::kStride != 0) {
      at = search(at + 1);  // the other component's byte
      continue;
    }
    if (mismatches >= cap) {
      stopped = true;
      break;
    }
    if (out > room_end) {
      out = report.advance(out);
      if (report.failed()) {
        stopped = true;
        break;
      }
    }
    const auto sample = static_cast<std::int64_t>(offset / Kind::kStride);
    const std::size_t first = begin + static_cast<std::size_t>(sample) * Kind::kStride;
    advance_position(position, last, sample, grid);
    last = sample;
    const std::uint32_t test_sample = Kind::load(test + first);
    const std::uint32_t ref_sample = Kind::load(ref + first);
    if (minimum_width &&
        (kSamplesAlwaysFit || (Line::fits(test_sample) && Line::fits(ref_sample)))) {
      out += Line::format(out, frame, grid.letter, position, test_sample, ref_sample);
    } else {
      out += format_report_line(out, {frame, grid.letter, position, test_sample, ref_sample},
                                kSampleWidth);
    }
    ++mismatches;
    // The next sample starts inside the plane's span, except after the last sample of a
    // pair plane's first component, whose span ends a byte short of the next pair.
    const std::size_t next = first + Kind::kStride;
    at = search(Kind::kOddBytesAreOther ? std::min(next, end) : next);
  }
  state.mismatches = mismatches;
  state.out = out;
  return stopped;
}

// Writes over the newline ending the line before `end` the note naming the stray low bits
// of a word whose value lies in its high bits (p010), "  low bits: test 0x01, ref 0x3f",
// each side only when it has any, and returns the new end. At most 34 bytes are added.
char* append_stray_note(char* end, const std::uint32_t test_bits, const std::uint32_t ref_bits) {
  constexpr char kHex[] = "0123456789abcdef";
  const auto put = [&](const char* text) {
    for (; *text != '\0'; ++text) *end++ = *text;
  };
  const auto put_bits = [&](const std::uint32_t bits) {
    put(" 0x");
    *end++ = kHex[(bits >> 4) & 0xF];
    *end++ = kHex[bits & 0xF];
  };
  --end;
  put("  low bits:");
  if (test_bits != 0) {
    put(" test");
    put_bits(test_bits);
  }
  if (test_bits != 0 && ref_bits != 0) *end++ = ',';
  if (ref_bits != 0) {
    put(" ref");
    put_bits(ref_bits);
  }
  *end++ = '\n';
  return end;
}

// The walk of a plane of two-byte little-endian words whose values lie in their high bits
// (p010 as compared): the lines give the values, and a word whose bits below its value
// are not all 0 is named in a note after the line (a decoder that leaves stray bits
// there is at fault even when the value is right). Rarely long; formatted field by field.
template <bool kTolerant>
bool walk_high_bit_plane(const FrameWalk& walk, const PlaneLayout& plane, WalkState& state,
                         ReportWriter& report) {
  using Kind = TwoBytesLittle;
  const FrameGeometry& geometry = walk.geometry;
  const auto begin = static_cast<std::size_t>(plane.offset);
  const auto end = begin + static_cast<std::size_t>(plane.span());
  const int width = sample_field_width(value_depth(geometry));
  const auto search = [&](const std::size_t from) {
    if constexpr (kTolerant) {
      return find_beyond_tolerance<Kind>(walk.test, walk.ref, from, end, walk.tolerance);
    } else {
      return find_difference(walk.test, walk.ref, from, end);
    }
  };
  for (std::size_t at = search(state.from); at != end;) {
    if (state.mismatches >= walk.cap) return true;
    if (state.out > report.room_end()) {
      state.out = report.advance(state.out);
      if (report.failed()) return true;
    }
    const auto sample = static_cast<std::int64_t>((at - begin) / Kind::kStride);
    const std::size_t first = begin + static_cast<std::size_t>(sample) * Kind::kStride;
    const std::uint32_t a = Kind::load(walk.test + first);
    const std::uint32_t b = Kind::load(walk.ref + first);
    const ReportFields fields{walk.frame, plane.letter, sample_position(geometry, plane, sample),
                              sample_value(geometry, a), sample_value(geometry, b)};
    state.out += format_report_line(state.out, fields, width);
    if (stray_bits(geometry, a) != 0 || stray_bits(geometry, b) != 0) {
      state.out = append_stray_note(state.out, stray_bits(geometry, a), stray_bits(geometry, b));
    }
    ++state.mismatches;
    at = search(first + Kind::kStride);
  }
  return false;
}

template <class Kind, bool kTolerant>
PlaneWalker walker_of_width(const int sample_width) {
  switch (sample_width) {
    case 3:
      return walk_plane<Kind, 3, kTolerant>;
    case 4:
      return walk_plane<Kind, 4, kTolerant>;
    default:
      return walk_plane<Kind, 5, kTolerant>;
  }
}

template <bool kTolerant>
PlaneWalker walker_for(const FrameGeometry& geometry, const PlaneLayout& plane) {
  if (geometry.value_shift > 0) return walk_high_bit_plane<kTolerant>;
  const int depth = geometry.depth;
  if (plane.bytes_per_sample == 1) {
    return plane.stride == 1 ? walk_plane<OneByte, 3, kTolerant>
                             : walk_plane<PairByte, 3, kTolerant>;
  }
  const int width = sample_field_width(depth);
  return plane.byte_order == ByteOrder::kLittle ? walker_of_width<TwoBytesLittle, kTolerant>(width)
                                                : walker_of_width<TwoBytesBig, kTolerant>(width);
}

// The walk compiled for `plane`'s sample layout: chosen once per run, outside every loop.
PlaneWalker walker_for(const FrameGeometry& geometry, const PlaneLayout& plane,
                       const bool tolerant) {
  return tolerant ? walker_for<true>(geometry, plane) : walker_for<false>(geometry, plane);
}

// True when `size` bytes at `offset` lie inside the equal prefix of a frame pair.
bool known_equal(const std::size_t equal_prefix, const std::int64_t offset,
                 const std::int64_t size) {
  return offset + size <= static_cast<std::int64_t>(equal_prefix);
}

// Whether the U,V pairs of a pair plane are equal (false for planar formats).
bool pair_plane_equal(const FrameGeometry& geometry, const std::uint8_t* test,
                      const std::uint8_t* ref, const std::size_t equal_prefix) {
  if (geometry.pair_plane_size == 0) return false;
  return known_equal(equal_prefix, geometry.pair_plane_offset, geometry.pair_plane_size) ||
         std::memcmp(test + geometry.pair_plane_offset, ref + geometry.pair_plane_offset,
                     static_cast<std::size_t>(geometry.pair_plane_size)) == 0;
}

// Reports the differing samples of one frame pair, plane by plane, until `cap` lines were
// written over the run or the report fails; the caller hands the frame's lines on. `equal_prefix`
// leading bytes of the frames are known to be equal already; plane p's walk begins at byte
// from[p] (no sample before it is beyond the tolerance), none at kNothingBeyond. Returns
// the number of samples reported.
std::int64_t walk_frame(const FrameWalk& walk, const std::array<PlaneWalker, 3>& walkers,
                        const std::array<std::size_t, 3>& from, const std::size_t equal_prefix,
                        std::int64_t& mismatches, ReportWriter& report) {
  const FrameGeometry& geometry = walk.geometry;
  WalkState state{mismatches, report.cursor(), 0};
  // U and V of a pair plane are walked one after the other over the same bytes; one
  // comparison of those bytes spares both walks in the common equal case.
  const bool pairs_equal = pair_plane_equal(geometry, walk.test, walk.ref, equal_prefix);
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    if (from[p] == kNothingBeyond || (plane.in_pair_plane && pairs_equal) ||
        known_equal(equal_prefix, plane.offset, plane.span())) {
      continue;
    }
    state.from = from[p];
    if (walkers[p](walk, plane, state, report)) break;
  }
  report.advance(state.out);
  const std::int64_t found = state.mismatches - mismatches;
  mismatches = state.mismatches;
  return found;
}

// The statistics kernel and the tolerance search of one sample layout.
struct PlaneKernels {
  void (*stats)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t, std::uint32_t,
                SampleStats&);
  std::size_t (*find)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t,
                      std::uint32_t);
};

template <class Kind>
constexpr PlaneKernels kernels_of() {
  return {accumulate_stats<Kind>, find_beyond_tolerance<Kind>};
}

PlaneKernels kernels_for(const PlaneLayout& plane) {
  if (plane.bytes_per_sample == 1) {
    return plane.stride == 1 ? kernels_of<OneByte>() : kernels_of<PairByte>();
  }
  return plane.byte_order == ByteOrder::kLittle ? kernels_of<TwoBytesLittle>()
                                                : kernels_of<TwoBytesBig>();
}

// The kernels of every plane of `geometry`.
std::array<PlaneKernels, 3> kernels_of_planes(const FrameGeometry& geometry) {
  std::array<PlaneKernels, 3> kernels{};
  for (std::size_t p = 0; p < geometry.plane_count; ++p)
    kernels[p] = kernels_for(geometry.planes[p]);
  return kernels;
}

// The first sample of `plane` beyond the tolerance, which must exist.
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

// The first sample of `pair` beyond the tolerance, plane by plane in raster order, if any.
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

// A plane's run of samples that one thread takes at a time; the threads take the bands in
// any order.
struct Band {
  std::size_t plane;
  std::size_t first_byte;  // of the band's first sample
  std::size_t end_byte;    // past its last sample's bytes, within the plane's span
  std::size_t samples;
  std::ptrdiff_t ssim_band = -1;  // the SSIM band over the same rows, or -1
};

// The band of `plane` (number p) from sample `first`, `count` samples.
Band band_of(const std::size_t p, const PlaneLayout& plane, const std::int64_t first,
             const std::int64_t count, const std::ptrdiff_t ssim_band = -1) {
  const std::int64_t span_end = plane.offset + plane.span();
  const std::int64_t first_byte = plane.offset + first * plane.stride;
  return {p, static_cast<std::size_t>(first_byte),
          static_cast<std::size_t>(std::min(span_end, first_byte + count * plane.stride)),
          static_cast<std::size_t>(count), ssim_band};
}

// The bands of every plane of `geometry`, in plane order: made once a run.
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

// With SSIM, the statistics' bands are the SSIM's rows, so that a band's samples are still
// in the cache when its SSIM reads them: each SSIM band's windows start 4 rows apart, and
// the plane's last band takes the rows below its windows too. Planes without a window
// are cut as usual.
std::vector<Band> bands_beside_ssim(const FrameGeometry& geometry, const SsimMeter& ssim) {
  std::vector<Band> bands;
  const std::vector<SsimMeter::Band>& ssim_bands = ssim.bands();
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    bool covered = false;
    for (std::size_t j = 0; j < ssim_bands.size(); ++j) {
      const SsimMeter::Band& band = ssim_bands[j];
      if (band.plane != p) continue;
      covered = true;
      const bool last = band.first_row + band.rows == plane.height / 4 - 1;
      const std::int64_t first_row = std::int64_t{4} * band.first_row;
      const std::int64_t end_row = last ? plane.height : first_row + std::int64_t{4} * band.rows;
      bands.push_back(band_of(p, plane, first_row * plane.width,
                              (end_row - first_row) * plane.width, static_cast<std::ptrdiff_t>(j)));
    }
    if (covered) continue;
    FrameGeometry alone = geometry;
    alone.plane_count = 1;
    alone.planes[0] = plane;
    for (Band band : cut_into_bands(alone)) {
      band.plane = p;
      bands.push_back(band);
    }
  }
  return bands;
}

}  // namespace

// The search, on every worker, for the planes that hold a sample beyond the tolerance.
struct SampleLines::Search {
  Search(const FrameGeometry& geometry, WorkerPool& pool)
      : kernels(kernels_of_planes(geometry)),
        bands(cut_into_bands(geometry)),
        beyond(bands.size()),
        workers(pool) {}

  // Where each plane's walk begins: the first band with a sample beyond `tolerance`, or
  // kNothingBeyond.
  std::array<std::size_t, 3> walk_starts(const FramePair& pair, const std::uint32_t tolerance) {
    auto search_band = [&](const std::size_t i) {
      const Band& band = bands[i];
      beyond[i] = kernels[band.plane].find(pair.test.data(), pair.ref.data(), band.first_byte,
                                           band.end_byte, tolerance) != band.end_byte;
    };
    workers.run(bands.size(), search_band);
    std::array<std::size_t, 3> starts{kNothingBeyond, kNothingBeyond, kNothingBeyond};
    for (std::size_t i = bands.size(); i-- > 0;) {
      if (beyond[i] != 0) starts[bands[i].plane] = bands[i].first_byte;
    }
    return starts;
  }

  std::array<PlaneKernels, 3> kernels{};
  std::vector<Band> bands;
  std::vector<std::uint8_t> beyond;  // one a band, set by the threads
  WorkerPool& workers;
};

SampleLines::SampleLines(const FrameGeometry& geometry, const std::int64_t max_count,
                         const std::int32_t tolerance, WorkerPool* const workers,
                         ReportWriter& report)
    : geometry_(geometry),
      cap_(max_count == 0 ? std::numeric_limits<std::int64_t>::max() : max_count),
      tolerance_(stored_tolerance(geometry, tolerance)),
      report_(report) {
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    walkers_[p] = walker_for(geometry, geometry.planes[p], tolerance > 0);
  }
  if (tolerance > 0 && workers != nullptr && workers->threads() > 1) {
    search_ = std::make_unique<Search>(geometry, *workers);
  }
}

SampleLines::~SampleLines() = default;

PairVerdict SampleLines::measure(const FramePair& pair) {
  last_found_ = 0;
  const std::size_t frame_size = pair.test.size();
  if (pair.equal_prefix == frame_size) return {};
  std::array<std::size_t, 3> from{};
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    from[p] = static_cast<std::size_t>(geometry_.planes[p].offset);
  }
  if (search_) from = search_->walk_starts(pair, tolerance_);
  const FrameWalk walk{geometry_, pair.index, cap_, tolerance_, pair.test.data(), pair.ref.data()};
  last_found_ = walk_frame(walk, walkers_, from, pair.equal_prefix, lines_, report_);
  PairVerdict verdict;
  verdict.beyond = last_found_;
  // The bytes before equal_prefix are equal; a difference is found at once after it.
  const std::size_t equal = pair.equal_prefix;
  verdict.bytes_differ =
      last_found_ > 0 ||
      (tolerance_ > 0 &&
       std::memcmp(pair.test.data() + equal, pair.ref.data() + equal, frame_size - equal) != 0);
  verdict.limit_reached = lines_ >= cap_;
  // Where the run's first difference lies, for the verdict: looked up once.
  if (last_found_ > 0 && !first_named_) {
    verdict.first = first_beyond(geometry_, pair, tolerance_);
    first_named_ = true;
  }
  return verdict;
}

bool SampleLines::publish() {
  if (last_found_ > 0) report_.flush();
  return !report_.failed();
}

// The kernels and the bands of every plane, made once: the threads take the bands in any
// order, and their integer sums come out the same.
struct PairStatistics::Plan {
  // `ssim` may be null.
  Plan(const FrameGeometry& geometry, WorkerPool* const pool, const SsimMeter* const ssim)
      : kernels(kernels_of_planes(geometry)),
        bands(ssim != nullptr ? bands_beside_ssim(geometry, *ssim) : cut_into_bands(geometry)),
        band_stats(bands.size()),
        workers(pool) {}

  std::array<PlaneKernels, 3> kernels{};
  std::vector<Band> bands;
  std::vector<SampleStats> band_stats;  // one a band, filled in by the threads
  WorkerPool* workers;                  // null: one thread
};

PairStatistics::PairStatistics(const FrameGeometry& geometry, const std::int32_t tolerance,
                               WorkerPool* const workers, const bool ssim, MeasureSink& sink)
    : geometry_(geometry),
      tolerance_(stored_tolerance(geometry, tolerance)),
      sink_(sink),
      ssim_(ssim ? std::make_unique<SsimMeter>(geometry, workers) : nullptr),
      plan_(std::make_unique<Plan>(geometry, workers, ssim_.get())) {}

PairStatistics::~PairStatistics() = default;

PairVerdict PairStatistics::measure(const FramePair& pair) {
  last_ = {};
  last_.frame = pair.index;
  PairVerdict verdict;
  if (pair.equal_prefix >= pair.test.size()) {
    if (ssim_) last_.ssim = ssim_->collect({true, true, true});  // equal: 1 where defined
    return verdict;
  }
  const std::uint8_t* const test = pair.test.data();
  const std::uint8_t* const ref = pair.ref.data();
  Plan& plan = *plan_;
  // An equal plane has all-zero statistics without arithmetic.
  const bool pairs_equal = pair_plane_equal(geometry_, test, ref, pair.equal_prefix);
  std::array<bool, 3> measured{};
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneLayout& plane = geometry_.planes[p];
    measured[p] = !(plane.in_pair_plane && pairs_equal) &&
                  !known_equal(pair.equal_prefix, plane.offset, plane.span());
  }
  // Planes known to be equal have SSIM 1 without arithmetic; any other equal plane's
  // windows all come out exactly 1 as well.
  std::array<bool, 3> known{};
  for (std::size_t p = 0; p < 3; ++p) known[p] = !measured[p];
  auto measure_band = [&](const std::size_t i) {
    const Band& band = plan.bands[i];
    plan.band_stats[i] = {};
    if (!measured[band.plane]) return;
    plan.kernels[band.plane].stats(test, ref, band.first_byte, band.samples, tolerance_,
                                   plan.band_stats[i]);
    if (band.ssim_band >= 0) {
      ssim_->measure_band(static_cast<std::size_t>(band.ssim_band), pair, known);
    }
  };
  run_tasks(plan.workers, plan.bands.size(), measure_band);
  for (std::size_t i = 0; i < plan.bands.size(); ++i) {
    last_.planes[plan.bands[i].plane].add(plan.band_stats[i]);
  }
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const SampleStats& stats = last_.planes[p];
    verdict.bytes_differ = verdict.bytes_differ || stats.sse > 0;
    verdict.beyond += static_cast<std::int64_t>(stats.beyond);
    if (stats.beyond > 0 && !first_) {
      first_ = locate_first(geometry_, geometry_.planes[p], plan.kernels[p], pair.index, test, ref,
                            tolerance_);
      verdict.first = first_;
    }
  }
  if (ssim_) last_.ssim = ssim_->collect(known);
  return verdict;
}

}  // namespace framecmp
