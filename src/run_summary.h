// How a run ends: the messages on standard error that judge it, and its exit status.
#ifndef FRAMECMP_RUN_SUMMARY_H_
#define FRAMECMP_RUN_SUMMARY_H_

#include <cstdint>
#include <cstdio>

#include "command_line.h"
#include "sequence_compare.h"

namespace framecmp {

// Exit statuses of --exit-code, as cmp and diff have them.
inline constexpr int kStatusSame = 0;
inline constexpr int kStatusDifferent = 1;
inline constexpr int kStatusTrouble = 2;

// The closing messages of a run that neither failed nor stopped at its limit, on `err`:
// with no sample beyond the tolerance, the summary ("identical", "match within", "differ
// in a partial frame", "is shorter"); otherwise, in the modern form only, the verdict
// block (how many samples in how many frames, the first bad frame, which sequence ended
// first, where the output stopped). Then, in the modern form, a note for each sequence
// that ends in a partial frame of a `frame_size`-byte frame.
void write_run_end(std::FILE* err, const RunSettings& settings, const ComparisonOutcome& outcome,
                   std::int64_t frame_size);

// The exit status of a run: `failed` (an error was reported) gives 1, or 2 with
// --exit-code; with --exit-code, 1 when the sequences differ or one ended first, else 0.
int exit_status(const RunSettings& settings, const ComparisonOutcome& outcome, bool failed);

}  // namespace framecmp

#endif  // FRAMECMP_RUN_SUMMARY_H_
