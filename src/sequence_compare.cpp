#include "sequence_compare.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "report_line.h"
#include "sample_kernels.h"
#include "worker_pool.h"

namespace framecmp {
namespace {

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
  std::uint32_t tolerance;
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

enum class PlaneResult : std::uint8_t { kWalked, kStop };

// Reports the samples of one plane that differ by more than the tolerance. Stops when
// `cap` lines were reached or the report failed. kTolerant selects the search that skips
// samples within a tolerance a block at a time; without it, equal bytes are skipped.
template <class Kind, int kSampleWidth, bool kTolerant>
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
  SamplePosition position;  // of sample `last`
  std::int64_t last = 0;
  // Decided once per plane, so that the common case formats without a width test per line.
  const bool minimum_width = fits_minimum_width(walk.geometry, plane, frame);
  PlaneResult result = PlaneResult::kWalked;
  for (std::size_t at = search(begin); at != end;) {
    const std::size_t offset = at - begin;
    if (!kTolerant && Kind::kOddBytesAreOther && offset % Kind::kStride != 0) {
      at = search(at + 1);  // the other component's byte
      continue;
    }
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
    at = search(Kind::kOddBytesAreOther ? std::min(next, end) : next);
  }
  state.mismatches = mismatches;
  state.out = out;
  return result;
}

using PlaneWalker = PlaneResult (*)(const FrameWalk&, const PlaneLayout&, WalkState&,
                                    ReportWriter&);

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
PlaneWalker walker_for(const PlaneLayout& plane, const int depth) {
  if (plane.bytes_per_sample == 1) {
    return plane.stride == 1 ? walk_plane<OneByte, 3, kTolerant>
                             : walk_plane<PairByte, 3, kTolerant>;
  }
  const int width = sample_field_width(depth);
  return plane.byte_order == ByteOrder::kLittle ? walker_of_width<TwoBytesLittle, kTolerant>(width)
                                                : walker_of_width<TwoBytesBig, kTolerant>(width);
}

// The walk compiled for `plane`'s sample layout: chosen once per run, outside every loop.
PlaneWalker walker_for(const PlaneLayout& plane, const int depth, const bool tolerant) {
  return tolerant ? walker_for<true>(plane, depth) : walker_for<false>(plane, depth);
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
// leading bytes of the frames are known to be equal already. Returns the number of samples
// reported.
std::int64_t walk_frame(const FrameWalk& walk, const std::array<PlaneWalker, 3>& walkers,
                        const std::size_t equal_prefix, std::int64_t& mismatches,
                        ReportWriter& report) {
  const FrameGeometry& geometry = walk.geometry;
  WalkState state{mismatches, report.cursor()};
  // U and V of a pair plane are walked one after the other over the same bytes; one
  // comparison of those bytes spares both walks in the common equal case.
  const bool pairs_equal = pair_plane_equal(geometry, walk.test, walk.ref, equal_prefix);
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    if ((plane.in_pair_plane && pairs_equal) ||
        known_equal(equal_prefix, plane.offset, plane.span())) {
      continue;
    }
    if (walkers[p](walk, plane, state, report) == PlaneResult::kStop) break;
  }
  report.advance(state.out);
  const std::int64_t found = state.mismatches - mismatches;
  mismatches = state.mismatches;
  return found;
}

// How the run ended, from the last reads (at least one of them not a whole frame).
RunEnd end_of_input(const ReadResult& test, const ReadResult& ref, const std::uint8_t* test_buffer,
                    const std::uint8_t* ref_buffer) {
  if (test.failed) return RunEnd::kTestReadFailed;
  if (ref.failed) return RunEnd::kRefReadFailed;
  if (test.bytes < ref.bytes) return RunEnd::kTestShorter;
  if (test.bytes > ref.bytes) return RunEnd::kRefShorter;
  // A YUV4MPEG2 frame whose marker was read is a frame of its file, even without samples.
  const bool test_begun = test.bytes > 0 || test.frame_begun;
  const bool ref_begun = ref.bytes > 0 || ref.frame_begun;
  if (test_begun != ref_begun) return test_begun ? RunEnd::kRefShorter : RunEnd::kTestShorter;
  // Equal partial frames are not walked sample by sample, but they must not pass for
  // identical when their bytes differ.
  return std::memcmp(test_buffer, ref_buffer, test.bytes) == 0 ? RunEnd::kBothEnded
                                                               : RunEnd::kPartialDiffers;
}

// True (with the read failure in `outcome`) when bytes of a mapped file were compared that
// could not be read after all: the file shrank, and what was compared is void.
bool lost_view(const FrameSource& test, const FrameSource& ref, ComparisonOutcome& outcome) {
  if (test.view_lost()) {
    outcome.end = RunEnd::kTestReadFailed;
  } else if (ref.view_lost()) {
    outcome.end = RunEnd::kRefReadFailed;
  } else {
    return false;
  }
  outcome.test_partial = outcome.ref_partial = false;
  outcome.test_tail = outcome.ref_tail = 0;
  return true;
}

// Reads frame pairs and hands each whole one to `on_frame(pair, outcome)`, which returns
// false to stop the run (after setting outcome.end). Counts frames and ends the run at
// the end of the input or at the frame limit.
template <class OnFrame>
ComparisonOutcome run_frames(const FrameGeometry& geometry, const CompareOptions& options,
                             std::uint8_t* const test_buffer, std::uint8_t* const ref_buffer,
                             FrameSource& test, FrameSource& ref, OnFrame on_frame) {
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  ComparisonOutcome outcome;
  for (;;) {
    if (options.frames_limit > 0 && outcome.frames_compared >= options.frames_limit) {
      outcome.end = RunEnd::kFramesLimit;
      return outcome;
    }
    const PairRead pair = read_frame_pair(test, ref, test_buffer, ref_buffer, frame_size);
    if (pair.test.bytes != frame_size || pair.ref.bytes != frame_size) {
      outcome.end = end_of_input(pair.test, pair.ref, pair.test_data, pair.ref_data);
      if (lost_view(test, ref, outcome)) return outcome;
      // Only a read that reached the end of its input can hold a partial last frame.
      outcome.test_partial = pair.test.bytes < frame_size && !pair.test.failed &&
                             (pair.test.bytes > 0 || pair.test.frame_begun);
      outcome.ref_partial = pair.ref.bytes < frame_size && !pair.ref.failed &&
                            (pair.ref.bytes > 0 || pair.ref.frame_begun);
      outcome.test_tail = outcome.test_partial ? pair.test.bytes : 0;
      outcome.ref_tail = outcome.ref_partial ? pair.ref.bytes : 0;
      return outcome;
    }
    const bool go_on = on_frame(pair, outcome);
    if (lost_view(test, ref, outcome)) return outcome;
    ++outcome.frames_compared;
    if (!go_on) return outcome;
  }
}

// Books a frame pair that had `beyond` samples beyond the tolerance.
void count_frame(ComparisonOutcome& outcome, const CompareOptions& options,
                 const std::uint64_t beyond, const bool bytes_differ) {
  if (beyond > 0) {
    if (outcome.differing_frames == 0) {
      outcome.first_bad_frame = options.first_frame + outcome.frames_compared;
    }
    ++outcome.differing_frames;
  } else if (bytes_differ) {
    outcome.within_tolerance = true;
  }
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
    return load_sample(p + at, plane.bytes_per_sample, plane.byte_order);
  };
  return {frame, plane.letter, sample_position(geometry, plane, sample), value(test), value(ref)};
}

}  // namespace

ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    std::uint8_t* const test_buffer, std::uint8_t* const ref_buffer,
                                    FrameSource& test, FrameSource& ref, ReportWriter& report) {
  const std::int64_t cap =
      options.max_count == 0 ? std::numeric_limits<std::int64_t>::max() : options.max_count;
  const bool tolerant = options.tolerance > 0;
  std::array<PlaneWalker, 3> walkers{};
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    walkers[p] = walker_for(geometry.planes[p], geometry.depth, tolerant);
  }
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  return run_frames(
      geometry, options, test_buffer, ref_buffer, test, ref,
      [&](const PairRead& pair, ComparisonOutcome& outcome) {
        const std::int64_t index = options.first_frame + outcome.frames_compared;
        const std::uint8_t* const test_frame = pair.test_data;
        const std::uint8_t* const ref_frame = pair.ref_data;
        if (pair.equal_prefix == frame_size) {
          if (options.observer != nullptr)
            options.observer->frame(index, test_frame, ref_frame, false);
          return true;
        }
        const FrameWalk walk{geometry,   index,
                             cap,        static_cast<std::uint32_t>(options.tolerance),
                             test_frame, ref_frame};
        const std::int64_t found =
            walk_frame(walk, walkers, pair.equal_prefix, outcome.mismatches, report);
        if (test.view_lost() || ref.view_lost()) {
          report.discard();  // lines of a frame that could not be read are no result
          return false;
        }
        // A frame's lines go out when the frame ends, so that a reader of a slow pipe sees
        // each bad frame at once and an interrupted run keeps every finished frame's lines.
        if (found > 0) report.flush();
        count_frame(outcome, options, static_cast<std::uint64_t>(found),
                    tolerant && found == 0 && std::memcmp(test_frame, ref_frame, frame_size) != 0);
        if (options.observer != nullptr) {
          options.observer->frame(index, test_frame, ref_frame, found > 0);
        }
        // Nothing is read once the limit's lines are out (a pipe's writer may never send
        // the next frame) or once the report is lost (reading on would serve nothing).
        if (report.failed()) {
          outcome.end = RunEnd::kOutputLost;
          return false;
        }
        if (outcome.mismatches >= cap) {
          outcome.end = RunEnd::kLimitReached;
          return false;
        }
        return true;
      });
}

ComparisonOutcome measure_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    std::uint8_t* const test_buffer, std::uint8_t* const ref_buffer,
                                    FrameSource& test, FrameSource& ref, MeasureSink& sink) {
  std::array<PlaneKernels, 3> kernels{};
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    kernels[p] = kernels_for(geometry.planes[p]);
  }
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  const auto tolerance = static_cast<std::uint32_t>(options.tolerance);
  // The bands of every plane, made once: the threads take them in any order, and their
  // integer sums come out the same.
  constexpr std::int64_t kBand = std::int64_t{1} << 17;  // samples
  struct Band {
    std::size_t plane;
    std::size_t first_byte;
    std::size_t samples;
  };
  std::vector<Band> bands;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    const std::int64_t samples = std::int64_t{plane.width} * plane.height;
    for (std::int64_t first = 0; first < samples; first += kBand) {
      bands.push_back({p, static_cast<std::size_t>(plane.offset + first * plane.stride),
                       static_cast<std::size_t>(std::min(kBand, samples - first))});
    }
  }
  std::vector<SampleStats> band_stats(bands.size());
  WorkerPool pool(options.threads);
  std::optional<ReportFields> first;
  ComparisonOutcome result = run_frames(
      geometry, options, test_buffer, ref_buffer, test, ref,
      [&](const PairRead& pair, ComparisonOutcome& outcome) {
        FrameMeasure measure;
        measure.frame = options.first_frame + outcome.frames_compared;
        std::uint64_t beyond = 0;
        bool bytes_differ = false;
        if (pair.equal_prefix < frame_size) {
          // An equal plane has all-zero statistics without arithmetic.
          const bool pairs_equal =
              pair_plane_equal(geometry, pair.test_data, pair.ref_data, pair.equal_prefix);
          std::array<bool, 3> measured{};
          for (std::size_t p = 0; p < geometry.plane_count; ++p) {
            const PlaneLayout& plane = geometry.planes[p];
            measured[p] = !(plane.in_pair_plane && pairs_equal) &&
                          !known_equal(pair.equal_prefix, plane.offset, plane.span());
          }
          auto measure_band = [&](const std::size_t i) {
            const Band& band = bands[i];
            band_stats[i] = {};
            if (!measured[band.plane]) return;
            kernels[band.plane].stats(pair.test_data, pair.ref_data, band.first_byte, band.samples,
                                      tolerance, band_stats[i]);
          };
          pool.run(bands.size(), measure_band);
          for (std::size_t i = 0; i < bands.size(); ++i) {
            measure.planes[bands[i].plane].add(band_stats[i]);
          }
          for (std::size_t p = 0; p < geometry.plane_count; ++p) {
            const SampleStats& stats = measure.planes[p];
            bytes_differ = bytes_differ || stats.sse > 0;
            beyond += stats.beyond;
            if (stats.beyond > 0 && !first) {
              first = locate_first(geometry, geometry.planes[p], kernels[p], measure.frame,
                                   pair.test_data, pair.ref_data, tolerance);
            }
          }
        }
        outcome.mismatches += static_cast<std::int64_t>(beyond);
        count_frame(outcome, options, beyond, bytes_differ);
        if (test.view_lost() || ref.view_lost()) return false;  // no result: see lost_view
        if (options.observer != nullptr) {
          options.observer->frame(measure.frame, pair.test_data, pair.ref_data, beyond > 0);
        }
        if (sink.frame(measure)) return true;
        // A lost report ends the run: an endless input would otherwise be read forever.
        outcome.end = RunEnd::kOutputLost;
        return false;
      });
  sink.first_difference(first);
  return result;
}

}  // namespace framecmp
