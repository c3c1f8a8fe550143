#include "run/run_loop.h"
#include "input/pair_reader.h"

#include <cstring>

namespace framecmp {
namespace {

// How the run ended, from the last reads (at least one of them not a whole frame).
RunEnd end_of_input(const PairRead& read) {
  const ReadResult& test = read.test;
  const ReadResult& ref = read.ref;
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
  return std::memcmp(read.test_data, read.ref_data, test.bytes) == 0 ? RunEnd::kBothEnded
                                                                     : RunEnd::kPartialDiffers;
}

// True (with the read failure in `outcome`) when bytes of a mapped file were used that
// could not be read after all: the file shrank, and what was made of them is void.
bool lost_view(const PairReader& reader, ComparisonOutcome& outcome) {
  const PairReader::Lost lost = reader.lost();
  if (lost == PairReader::Lost::kNone) return false;
  outcome.end = lost == PairReader::Lost::kTest ? RunEnd::kTestReadFailed : RunEnd::kRefReadFailed;
  outcome.test_partial = outcome.ref_partial = false;
  outcome.test_tail = outcome.ref_tail = 0;
  return true;
}

// The end of the input: how the run ended and the partial frames it ended on.
void book_end(const PairReader& reader, ComparisonOutcome& outcome) {
  const PairRead& read = reader.last();
  const std::size_t frame_size = reader.frame_size();
  outcome.end = end_of_input(read);
  if (lost_view(reader, outcome)) return;
  // Only a read that reached the end of its input can hold a partial last frame.
  const auto partial = [&](const ReadResult& got) {
    return got.bytes < frame_size && !got.failed && (got.bytes > 0 || got.frame_begun);
  };
  outcome.test_partial = partial(read.test);
  outcome.ref_partial = partial(read.ref);
  outcome.test_tail = outcome.test_partial ? read.test.bytes : 0;
  outcome.ref_tail = outcome.ref_partial ? read.ref.bytes : 0;
}

// A hash run's end: a hash left in the list makes the test the shorter one, as a
// reference's frame would, and a partial frame or a whole one left over makes the list the
// shorter one. A list line that is no hash ends the run with nothing booked.
void book_end(const HashPairReader& reader, ComparisonOutcome& outcome) {
  if (reader.read_failed()) {
    outcome.end = RunEnd::kTestReadFailed;
    return;
  }
  if (reader.bad_list()) return;
  const ReadResult& read = reader.last();
  if (read.bytes >= reader.frame_size()) {
    outcome.end = RunEnd::kRefShorter;
    return;
  }
  outcome.test_partial = read.bytes > 0 || read.frame_begun;
  outcome.test_tail = outcome.test_partial ? read.bytes : 0;
  outcome.end = reader.entry() == HashList::Next::kHash      ? RunEnd::kTestShorter
                : reader.per_frame() && outcome.test_partial ? RunEnd::kRefShorter
                                                             : RunEnd::kBothEnded;
}

bool lost_view(const HashPairReader& reader, ComparisonOutcome& outcome) {
  if (!reader.lost()) return false;
  outcome.end = RunEnd::kTestReadFailed;
  outcome.test_partial = false;
  outcome.test_tail = 0;
  return true;
}

// Books frame pair `index` by what the metric found in it.
void count_frame(ComparisonOutcome& outcome, const std::int64_t index, const PairVerdict& verdict) {
  outcome.mismatches += verdict.beyond;
  outcome.damaged_blocks += verdict.blocks;
  if (!outcome.first && verdict.first) outcome.first = verdict.first;
  if (verdict.beyond > 0) {
    if (outcome.differing_frames == 0) outcome.first_bad_frame = index;
    ++outcome.differing_frames;
  } else if (verdict.bytes_differ) {
    outcome.within_tolerance = true;
  }
}

template <class Reader>
ComparisonOutcome run_pairs_of(Reader& reader, const CompareOptions& options, PairMetric& metric) {
  ComparisonOutcome outcome;
  FramePair pair;
  for (;;) {
    if (options.frames_limit > 0 && outcome.frames_compared >= options.frames_limit) {
      outcome.end = RunEnd::kFramesLimit;
      return outcome;
    }
    if (!reader.next(pair)) {
      book_end(reader, outcome);
      return outcome;
    }
    const PairVerdict verdict = metric.measure(pair);
    if (lost_view(reader, outcome)) {
      metric.discard();  // what a frame that could not be read gave is no result
      return outcome;
    }
    count_frame(outcome, pair.index, verdict);
    if (options.observer != nullptr) {
      options.observer->frame(pair.index, pair.test.data(), pair.ref.data(), verdict.beyond > 0);
    }
    const bool published = metric.publish();
    ++outcome.frames_compared;
    // Nothing is read once the report is lost (reading on would serve nothing, and an
    // endless input would be read forever) or once the limit's lines are out (a pipe's
    // writer may never send the next frame).
    if (!published) {
      outcome.end = RunEnd::kOutputLost;
      return outcome;
    }
    if (verdict.limit_reached) {
      outcome.end = RunEnd::kLimitReached;
      return outcome;
    }
  }
}

}  // namespace

ComparisonOutcome run_pairs(PairReader& reader, const CompareOptions& options, PairMetric& metric) {
  return run_pairs_of(reader, options, metric);
}

ComparisonOutcome run_pairs(HashPairReader& reader, const CompareOptions& options,
                            PairMetric& metric) {
  return run_pairs_of(reader, options, metric);
}

ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    PairReader& reader, ReportWriter& report) {
  SampleLines lines(geometry, options.max_count, options.tolerance, options.workers, report);
  return run_pairs(reader, options, lines);
}

ComparisonOutcome measure_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    PairReader& reader, MetricSet* const metrics,
                                    MeasureSink& sink) {
  PairStatistics statistics(geometry, options.tolerance, options.workers, metrics, sink);
  const ComparisonOutcome outcome = run_pairs(reader, options, statistics);
  statistics.finish();
  return outcome;
}

}  // namespace framecmp
