// The run of a command line that parsed: opening and settling the inputs, the alignment,
// the comparison through the run loop, and the one verdict with its closing messages.
#ifndef FRAMECMP_RUN_RUN_H_
#define FRAMECMP_RUN_RUN_H_

#include "cli/command_line.h"
#include "input/file_descriptor.h"
#include "input/sequence_input.h"

namespace framecmp {

// Runs `settings` from the first read to the exit status (0, 1 or kStatusTrouble), writing
// the report to standard output and every message to standard error. `closed` tells which
// standard descriptors were closed at the start; argc and argv are the command line, for
// the hint that names a YUV4MPEG2 argument. Throws std::bad_alloc when memory runs out.
int run_command_line(RunSettings settings, const StandardDescriptors& closed, int argc,
                     const char* const* argv);

// After a classic usage message: names the first argument that is a regular file beginning
// with the YUV4MPEG2 magic, if any. Reads only those first bytes.
void hint_at_y4m_arguments(int argc, const char* const* argv);

}  // namespace framecmp

#endif  // FRAMECMP_RUN_RUN_H_
