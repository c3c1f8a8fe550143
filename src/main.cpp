// framecmp: compares a test sequence with a reference sequence, both raw video files,
// and prints a line for every sample that differs, or statistics. Process control only:
// the standard descriptors, the command line, help and version, and memory that cannot
// be had; the run itself is the run module's.
#include <unistd.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "cli/command_line.h"
#include "input/file_descriptor.h"
#include "input/sequence_input.h"
#include "report/report_writer.h"
#include "report/run_summary.h"
#include "run/run.h"

namespace framecmp {
namespace {

// Prints the help or version text; false (after saying so) when it could not be written.
bool print_to_standard_output(const std::string& text, const StandardDescriptors& closed) {
  FdSink sink(closed.output_closed ? -1 : STDOUT_FILENO);
  if (sink.write(text.data(), text.size())) return true;
  std::fputs("\nCannot write to standard output!\n\n", stderr);
  return false;
}

int run_comparer(const int argc, const char* const* const argv) {
  StandardDescriptors closed;
  if (!guard_standard_descriptors(closed)) return 1;
  const CommandLine command_line = parse_command_line(argc, argv);
  switch (command_line.action) {
    case CommandAction::kRun:
      break;
    case CommandAction::kRefuse:
      std::fputs(command_line.message.c_str(), stderr);
      if (!is_modern_form(argc, argv)) hint_at_y4m_arguments(argc, argv);
      return command_line.exit_code ? kStatusTrouble : 1;
    case CommandAction::kShowHelp:
    case CommandAction::kShowVersion:
      return print_to_standard_output(command_line.message, closed) ? 0 : 1;
  }
  const int trouble = command_line.settings.exit_code ? kStatusTrouble : 1;
  // Memory that cannot be had is a refusal like any other, never an abort.
  try {
    return run_command_line(command_line.settings, closed, argc, argv);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  std::fputs("\nMemory exceeded!\n\n", stderr);
  return trouble;
}

}  // namespace
}  // namespace framecmp

int main(int argc, char** argv) {
  try {
    return framecmp::run_comparer(argc, argv);
  } catch (const std::bad_alloc&) {
    // Only the parsing of the command line is left to end here.
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return 1;
  }
}
