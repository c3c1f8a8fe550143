// How a run ends: the messages on standard error that judge it, and its exit status.
#ifndef FRAMECMP_REPORT_RUN_SUMMARY_H_
#define FRAMECMP_REPORT_RUN_SUMMARY_H_

#include <cstdint>
#include <cstdio>

#include "metrics/outcome.h"
#include "report/run_header.h"

namespace framecmp {

// Exit statuses of --exit-code, as cmp and diff have them.
inline constexpr int kStatusSame = 0;
inline constexpr int kStatusDifferent = 1;
inline constexpr int kStatusTrouble = 2;

// The judgement of a comparison that neither failed nor lost its report: the one rule
// that the exit status, the closing messages and the JSON document all follow.
enum class Verdict : std::uint8_t {
  kIdentical,             // every compared pair equal, both sequences ended together
  kMatchWithinTolerance,  // as identical, but some pair differed within the tolerance
  kDiffer,                // a sample beyond the tolerance, or partial last frames that differ
  kShorter,               // every pair matched, but one sequence ended first (before --frames)
};

Verdict verdict_of(const ComparisonOutcome& outcome);

// The verdict as JSON names it: "identical", "match_within_tolerance", "differ", "shorter".
const char* verdict_name(Verdict verdict);

// The closing messages of a run that neither failed nor stopped at its limit, on `err`:
// with no sample beyond the tolerance, the summary ("identical", "match within", "differ
// in a partial frame", "is shorter"); otherwise, in the modern form only, the verdict
// block (how many samples in how many frames, the first bad frame, which sequence ended
// first, where the output stopped). Then, in the modern form, a note for each sequence
// that ends in a partial frame of a `frame_size`-byte frame.
void write_run_end(std::FILE* err, const RunHeader& settings, const ComparisonOutcome& outcome,
                   std::int64_t frame_size);

// The exit status of a run: `failed` (an error was reported) gives 1, or 2 with
// --exit-code; with --exit-code, 0 for the verdicts identical and match within tolerance,
// 1 for the others.
int exit_status(const RunHeader& settings, const ComparisonOutcome& outcome, bool failed);

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_RUN_SUMMARY_H_
