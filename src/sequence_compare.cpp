#include "sequence_compare.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "report_line.h"

namespace framecmp {
namespace {

// How the samples of a plane sit in its bytes; one walk is compiled for each, so that the
// classic one-byte plane pays nothing for the others.
struct OneByte {
  static constexpr std::size_t kStride = 1;
  static constexpr std::uint32_t kMaxValue = 255;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return p[0]; }
};
// One component of nv12/nv21: every other byte, the bytes between belong to the other.
struct PairByte {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 255;
  static constexpr bool kOddBytesAreOther = true;
  static std::uint32_t load(const std::uint8_t* p) { return p[0]; }
};
struct TwoBytesLittle {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 65535;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return p[0] | std::uint32_t{p[1]} << 8; }
};
struct TwoBytesBig {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 65535;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
};

// Where the walk of a frame stands. The hot loop keeps the count and the output cursor
// here rather than in the outcome and the writer: stores through a char pointer would
// otherwise force them to be reloaded from memory after every line.
struct WalkState {
  std::int64_t mismatches;  // lines produced over the run
  char* out;                // the report writer's cursor
};

// Everything a plane walk needs besides the plane.
struct FrameWalk {
  const FrameGeometry& geometry;
  std::int64_t frame;  // 0-based index printed in the lines
  std::int64_t cap;    // line count at which the walk stops
  const std::uint8_t* test;
  const std::uint8_t* ref;
};

// What the hot loop needs of a plane, held by value: the report's stores through a char
// pointer could alias the geometry, which would otherwise be reloaded after every line.
struct PlaneGrid {
  std::int64_t width;           // samples per row
  std::int64_t blocks_per_row;  // of the frame
  int block_shift_x;
  int block_shift_y;
  char letter;

  PlaneGrid(const FrameGeometry& geometry, const PlaneLayout& plane)
      : width(plane.width),
        blocks_per_row(geometry.blocks_per_row),
        block_shift_x(plane.block_shift_x),
        block_shift_y(plane.block_shift_y),
        letter(plane.letter) {}
};

// Moves `position` from sample `from` to sample `to` (to > from) of a plane; the common
// step within a row needs no division.
void advance_position(SamplePosition& position, const std::int64_t from, const std::int64_t to,
                      const PlaneGrid& grid) {
  const std::int64_t column = position.column + (to - from);
  if (column < grid.width) {
    position.column = static_cast<std::int32_t>(column);
  } else {
    position.row = static_cast<std::int32_t>(to / grid.width);
    position.column = static_cast<std::int32_t>(to % grid.width);
  }
  position.block = std::int64_t{position.row >> grid.block_shift_y} * grid.blocks_per_row +
                   (position.column >> grid.block_shift_x);
}

enum class PlaneResult : std::uint8_t { kEqual, kDiffered, kStop };

// Reports the differing samples of one plane. Stops when `cap` lines were reached or the
// report failed.
template <class Kind, int kSampleWidth>
PlaneResult walk_plane(const FrameWalk& walk, const PlaneLayout& plane, WalkState& state,
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
  const std::uint8_t* const test = walk.test;
  const std::uint8_t* const ref = walk.ref;
  std::int64_t mismatches = state.mismatches;
  char* out = state.out;
  SamplePosition position;  // of sample `last`
  std::int64_t last = 0;
  // Decided once per plane, so that the common case formats without a width test per line.
  const bool minimum_width = fits_minimum_width(walk.geometry, plane, frame);
  PlaneResult result = PlaneResult::kEqual;
  for (std::size_t at = find_difference(test, ref, begin, end); at != end;) {
    const std::size_t offset = at - begin;
    if (Kind::kOddBytesAreOther && offset % Kind::kStride != 0) {
      at = find_difference(test, ref, at + 1, end);  // the other component's byte
      continue;
    }
    result = PlaneResult::kDiffered;
    if (mismatches >= cap) {
      result = PlaneResult::kStop;
      break;
    }
    if (out > room_end) {
      out = report.advance(out);
      if (report.failed()) {
        result = PlaneResult::kStop;
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
    at = find_difference(test, ref, Kind::kOddBytesAreOther ? std::min(next, end) : next, end);
  }
  state.mismatches = mismatches;
  state.out = out;
  return result;
}

using PlaneWalker = PlaneResult (*)(const FrameWalk&, const PlaneLayout&, WalkState&,
                                    ReportWriter&);

template <class Kind>
PlaneWalker walker_of_width(const int sample_width) {
  switch (sample_width) {
    case 3:
      return walk_plane<Kind, 3>;
    case 4:
      return walk_plane<Kind, 4>;
    default:
      return walk_plane<Kind, 5>;
  }
}

// The walk compiled for `plane`'s sample layout: chosen once per run, outside every loop.
PlaneWalker walker_for(const PlaneLayout& plane, const int depth) {
  if (plane.bytes_per_sample == 1) {
    return plane.stride == 1 ? walk_plane<OneByte, 3> : walk_plane<PairByte, 3>;
  }
  const int width = sample_field_width(depth);
  return plane.byte_order == ByteOrder::kLittle ? walker_of_width<TwoBytesLittle>(width)
                                                : walker_of_width<TwoBytesBig>(width);
}

// Reports the differing samples of one frame pair, plane by plane, until `cap` lines were
// written over the run or the report fails.
// `equal_prefix` leading bytes of the frames are known to be equal already.
void walk_frame(const FrameWalk& walk, const std::array<PlaneWalker, 3>& walkers,
                const std::size_t equal_prefix, ComparisonOutcome& outcome, ReportWriter& report) {
  const FrameGeometry& geometry = walk.geometry;
  WalkState state{outcome.mismatches, report.cursor()};
  const auto known_equal = [&](const std::int64_t offset, const std::int64_t size) {
    return offset + size <= static_cast<std::int64_t>(equal_prefix);
  };
  // U and V of a pair plane are walked one after the other over the same bytes; one
  // comparison of those bytes spares both walks in the common equal case.
  const bool pairs_equal =
      geometry.pair_plane_size > 0 &&
      (known_equal(geometry.pair_plane_offset, geometry.pair_plane_size) ||
       std::memcmp(walk.test + geometry.pair_plane_offset, walk.ref + geometry.pair_plane_offset,
                   static_cast<std::size_t>(geometry.pair_plane_size)) == 0);
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    if ((plane.in_pair_plane && pairs_equal) || known_equal(plane.offset, plane.span())) continue;
    if (walkers[p](walk, plane, state, report) == PlaneResult::kStop) break;
  }
  report.advance(state.out);
  // A frame's lines go out when the frame ends, so that a reader of a slow pipe sees each
  // bad frame at once and an interrupted run keeps every finished frame's lines.
  if (state.mismatches != outcome.mismatches) report.flush();
  outcome.mismatches = state.mismatches;
}

// How the run ended, from the last reads (at least one of them not a whole frame).
RunEnd end_of_input(const ReadResult& test, const ReadResult& ref, const std::uint8_t* test_buffer,
                    const std::uint8_t* ref_buffer) {
  if (test.failed) return RunEnd::kTestReadFailed;
  if (ref.failed) return RunEnd::kRefReadFailed;
  if (test.bytes < ref.bytes) return RunEnd::kTestShorter;
  if (test.bytes > ref.bytes) return RunEnd::kRefShorter;
  // Equal partial frames are not walked sample by sample, but they must not pass for
  // identical when their bytes differ.
  return std::memcmp(test_buffer, ref_buffer, test.bytes) == 0 ? RunEnd::kBothEnded
                                                               : RunEnd::kPartialDiffers;
}

}  // namespace

ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const std::int64_t max_count,
                                    std::uint8_t* const test_buffer, std::uint8_t* const ref_buffer,
                                    FrameSource& test, FrameSource& ref, ReportWriter& report) {
  const std::int64_t cap = max_count == 0 ? std::numeric_limits<std::int64_t>::max() : max_count;
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  std::array<PlaneWalker, 3> walkers{};
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    walkers[p] = walker_for(geometry.planes[p], geometry.depth);
  }
  ComparisonOutcome outcome;
  for (;;) {
    const PairRead pair = read_frame_pair(test, ref, test_buffer, ref_buffer, frame_size);
    const ReadResult& test_read = pair.test;
    const ReadResult& ref_read = pair.ref;
    if (test_read.bytes != frame_size || ref_read.bytes != frame_size) {
      outcome.end = end_of_input(test_read, ref_read, test_buffer, ref_buffer);
      // Only a read that reached the end of its input can hold a partial last frame.
      outcome.test_tail = test_read.bytes < frame_size && !test_read.failed ? test_read.bytes : 0;
      outcome.ref_tail = ref_read.bytes < frame_size && !ref_read.failed ? ref_read.bytes : 0;
      return outcome;
    }
    if (pair.equal_prefix < frame_size) {
      walk_frame({geometry, outcome.frames_compared, cap, test_buffer, ref_buffer}, walkers,
                 pair.equal_prefix, outcome, report);
    }
    ++outcome.frames_compared;
    // Nothing is read once the limit's lines are out (a pipe's writer may never send the
    // next frame) or once the report is lost (reading on would serve nothing).
    if (report.failed()) {
      outcome.end = RunEnd::kOutputLost;
      return outcome;
    }
    if (outcome.mismatches >= cap) {
      outcome.end = RunEnd::kLimitReached;
      return outcome;
    }
  }
}

}  // namespace framecmp
