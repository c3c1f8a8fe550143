#include "report/sample_lines.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "base/worker_pool.h"
#include "input/pair_reader.h"
#include "metrics/sample_kernels.h"
#include "metrics/sample_search.h"
#include "report/report_line.h"

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

}  // namespace framecmp
