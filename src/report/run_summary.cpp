#include "report/run_summary.h"

#include <cinttypes>

namespace framecmp {
namespace {

// The summary of a run in which no sample differed beyond the tolerance.
void write_summary(std::FILE* const err, const RunHeader& settings,
                   const ComparisonOutcome& outcome) {
  switch (verdict_of(outcome)) {
    case Verdict::kIdentical:
      std::fprintf(err, "\nFiles \"%s\" and \"%s\" are identical (%" PRId64 " frames)!\n\n",
                   settings.test_path, settings.ref_path, outcome.frames_compared);
      return;
    case Verdict::kMatchWithinTolerance:
      std::fprintf(err, "\nFiles \"%s\" and \"%s\" match within %d (%" PRId64 " frames)!\n\n",
                   settings.test_path, settings.ref_path, settings.tolerance,
                   outcome.frames_compared);
      return;
    case Verdict::kDiffer:  // with no sample beyond the tolerance: the partial frames
      std::fprintf(
          err, "\nFiles \"%s\" and \"%s\" differ in a partial frame after %" PRId64 " frames!\n\n",
          settings.test_path, settings.ref_path, outcome.frames_compared);
      return;
    case Verdict::kShorter: {
      const bool test_shorter = outcome.end == RunEnd::kTestShorter;
      std::fprintf(err, "\nFile \"%s\" is shorter (%" PRId64 " frames) than file \"%s\"!\n\n",
                   test_shorter ? settings.test_path : settings.ref_path, outcome.frames_compared,
                   test_shorter ? settings.ref_path : settings.test_path);
      return;
    }
  }
}

// The modern form's verdict on a run in which samples differed: one block.
void write_verdict(std::FILE* const err, const RunHeader& settings,
                   const ComparisonOutcome& outcome) {
  std::fprintf(err, "\nFiles \"%s\" and \"%s\" differ: %" PRId64 " sample%s", settings.test_path,
               settings.ref_path, outcome.mismatches, outcome.mismatches == 1 ? "" : "s");
  if (settings.report == ReportKind::kBlocks) {
    std::fprintf(err, " (%" PRId64 " block%s)", outcome.damaged_blocks,
                 outcome.damaged_blocks == 1 ? "" : "s");
  }
  std::fprintf(err, " in %" PRId64 " of %" PRId64 " frame%s, the first in frame %" PRId64,
               outcome.differing_frames, outcome.frames_compared,
               outcome.frames_compared == 1 ? "" : "s", outcome.first_bad_frame);
  // Where, so that a decoder's developer can go straight to the first damage.
  if (const std::optional<ReportFields>& first = outcome.first; first) {
    std::fprintf(err, ", plane %c at (%d, %d), block %" PRId64, first->plane_letter,
                 first->position.row, first->position.column, first->position.block);
  }
  std::fputs(".\n", err);
  if (outcome.end == RunEnd::kTestShorter || outcome.end == RunEnd::kRefShorter) {
    const bool test_shorter = outcome.end == RunEnd::kTestShorter;
    std::fprintf(err, "File \"%s\" ended first, after %" PRId64 " frames.\n",
                 test_shorter ? settings.test_path : settings.ref_path, outcome.frames_compared);
  }
  if (outcome.end == RunEnd::kPartialDiffers) {
    std::fputs("Their partial last frames differ too.\n", err);
  }
  if (outcome.end == RunEnd::kLimitReached) {
    std::fprintf(err, "Output stopped at MAX_COUNT = %d lines: later %s were not compared.\n",
                 settings.max_count, settings.report == ReportKind::kBlocks ? "blocks" : "samples");
  }
  std::fputs("\n", err);
}

void write_partial_frame_notes(std::FILE* const err, const RunHeader& settings,
                               const ComparisonOutcome& outcome, const std::int64_t frame_size) {
  const struct {
    const char* path;
    bool partial;
    std::size_t tail;
    std::int64_t frame_size;
  } sequences[] = {
      {settings.test_path, outcome.test_partial, outcome.test_tail, outcome.test_frame_size},
      {settings.ref_path, outcome.ref_partial, outcome.ref_tail, outcome.ref_frame_size}};
  for (const auto& sequence : sequences) {
    if (!sequence.partial) continue;
    std::fprintf(err,
                 "\nFile \"%s\" ends in a partial frame of %zu bytes (a frame is %" PRId64
                 " bytes): are the size and the pixel format right?\n\n",
                 sequence.path, sequence.tail,
                 sequence.frame_size > 0 ? sequence.frame_size : frame_size);
  }
}

bool is_failure(const RunEnd end) {
  return end == RunEnd::kTestReadFailed || end == RunEnd::kRefReadFailed ||
         end == RunEnd::kOutputLost;
}

}  // namespace

Verdict verdict_of(const ComparisonOutcome& outcome) {
  if (outcome.mismatches > 0 || outcome.end == RunEnd::kPartialDiffers) return Verdict::kDiffer;
  if (outcome.end == RunEnd::kTestShorter || outcome.end == RunEnd::kRefShorter) {
    return Verdict::kShorter;
  }
  return outcome.within_tolerance ? Verdict::kMatchWithinTolerance : Verdict::kIdentical;
}

const char* verdict_name(const Verdict verdict) {
  switch (verdict) {
    case Verdict::kIdentical:
      return "identical";
    case Verdict::kMatchWithinTolerance:
      return "match_within_tolerance";
    case Verdict::kDiffer:
      return "differ";
    case Verdict::kShorter:
      return "shorter";
  }
  return "differ";
}

void write_run_end(std::FILE* const err, const RunHeader& settings,
                   const ComparisonOutcome& outcome, const std::int64_t frame_size) {
  if (is_failure(outcome.end)) return;
  if (outcome.mismatches == 0) {
    write_summary(err, settings, outcome);
  } else if (settings.modern) {
    write_verdict(err, settings, outcome);
  }
  if (settings.modern) write_partial_frame_notes(err, settings, outcome, frame_size);
}

int exit_status(const RunHeader& settings, const ComparisonOutcome& outcome, const bool failed) {
  if (!settings.exit_code) return failed ? 1 : 0;
  if (failed) return kStatusTrouble;
  const Verdict verdict = verdict_of(outcome);
  const bool same = verdict == Verdict::kIdentical || verdict == Verdict::kMatchWithinTolerance;
  return same ? kStatusSame : kStatusDifferent;
}

}  // namespace framecmp
