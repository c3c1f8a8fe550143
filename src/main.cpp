// framecmp: compares a test sequence with a reference sequence, both raw video files,
// and prints a line for every sample that differs. Run control only: the command line,
// the resources, the summary and the exit status.
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "command_line.h"
#include "frame_geometry.h"
#include "report_writer.h"
#include "sequence_compare.h"
#include "sequence_input.h"

namespace framecmp {
namespace {

// Report lines are gathered into blocks of this size before they reach standard output.
constexpr std::size_t kReportBufferSize = std::size_t{1} << 20;

// Prints the help or version text; false (after saying so) when it could not be written.
bool print_to_standard_output(const std::string& text, const StandardDescriptors& closed) {
  FdSink sink(closed.output_closed ? -1 : STDOUT_FILENO);
  if (sink.write(text.data(), text.size())) return true;
  std::fputs("\nCannot write to standard output!\n\n", stderr);
  return false;
}

int report_open_failure(const char* path) {
  std::fprintf(stderr, "\nCannot open file \"%s\"!\n\n", path);
  return 1;
}

// The closing message of a run that found no differing sample.
void write_summary(const RunSettings& settings, const ComparisonOutcome& outcome) {
  switch (outcome.end) {
    case RunEnd::kBothEnded:
      std::fprintf(stderr, "\nFiles \"%s\" and \"%s\" are identical (%" PRId64 " frames)!\n\n",
                   settings.test_path, settings.ref_path, outcome.frames_compared);
      return;
    case RunEnd::kPartialDiffers:
      std::fprintf(stderr,
                   "\nFiles \"%s\" and \"%s\" differ in a partial frame after %" PRId64
                   " frames!\n\n",
                   settings.test_path, settings.ref_path, outcome.frames_compared);
      return;
    case RunEnd::kTestShorter:
    case RunEnd::kRefShorter: {
      const bool test_shorter = outcome.end == RunEnd::kTestShorter;
      std::fprintf(stderr, "\nFile \"%s\" is shorter (%" PRId64 " frames) than file \"%s\"!\n\n",
                   test_shorter ? settings.test_path : settings.ref_path, outcome.frames_compared,
                   test_shorter ? settings.ref_path : settings.test_path);
      return;
    }
    default:
      return;  // no summary after a failure or the limit
  }
}

// In the modern form, a sequence that ends in a partial frame is named: it nearly always
// means a wrong size or pixel format.
void write_partial_frame_notes(const RunSettings& settings, const ComparisonOutcome& outcome,
                               const std::int64_t frame_size) {
  const struct {
    const char* path;
    std::size_t tail;
  } sequences[] = {{settings.test_path, outcome.test_tail}, {settings.ref_path, outcome.ref_tail}};
  for (const auto& sequence : sequences) {
    if (sequence.tail == 0) continue;
    std::fprintf(stderr,
                 "\nFile \"%s\" ends in a partial frame of %zu bytes (a frame is %" PRId64
                 " bytes): are the size and the pixel format right?\n\n",
                 sequence.path, sequence.tail, frame_size);
  }
}

// Ends a run whose comparison has finished: failures first, then the summary.
int finish_run(const RunSettings& settings, const ComparisonOutcome& outcome,
               const std::int64_t frame_size, ReportWriter& report) {
  // Everything for standard output goes out before anything reaches standard error, so
  // that a terminal shows the two streams in order.
  const bool report_written = report.flush();
  int status = 0;
  if (outcome.end == RunEnd::kTestReadFailed || outcome.end == RunEnd::kRefReadFailed) {
    const char* const path =
        outcome.end == RunEnd::kTestReadFailed ? settings.test_path : settings.ref_path;
    std::fprintf(stderr, "\nCannot read file \"%s\"!\n\n", path);
    status = 1;
  }
  if (!report_written) {
    std::fputs("\nCannot write to standard output!\n\n", stderr);
    status = 1;
  }
  if (status == 0 && outcome.mismatches == 0) write_summary(settings, outcome);
  if (status == 0 && settings.modern) write_partial_frame_notes(settings, outcome, frame_size);
  return status;
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
      return 1;
    case CommandAction::kShowHelp:
    case CommandAction::kShowVersion:
      return print_to_standard_output(command_line.message, closed) ? 0 : 1;
  }
  const RunSettings& settings = command_line.settings;
  const FrameGeometry geometry =
      make_frame_geometry(settings.format, settings.width, settings.height, settings.block_size);

  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  const FrameBuffer test_buffer(frame_size);
  const FrameBuffer ref_buffer(frame_size);
  const std::unique_ptr<char[]> report_buffer(new (std::nothrow) char[kReportBufferSize]);
  if (test_buffer.data() == nullptr || ref_buffer.data() == nullptr || !report_buffer) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return 1;
  }

  const FileDescriptor test_file = open_sequence(settings.test_path, !closed.input_closed);
  if (!test_file.is_open()) return report_open_failure(settings.test_path);
  const FileDescriptor ref_file = open_sequence(
      settings.ref_path, !closed.input_closed && !is_standard_input(settings.test_path));
  if (!ref_file.is_open()) return report_open_failure(settings.ref_path);

  FileSource test(test_file.get());
  FileSource ref(ref_file.get());
  FdSink sink(closed.output_closed ? -1 : STDOUT_FILENO);
  ReportWriter report(sink, std::span<char>(report_buffer.get(), kReportBufferSize));
  const ComparisonOutcome outcome = compare_sequences(
      geometry, settings.max_count, test_buffer.data(), ref_buffer.data(), test, ref, report);
  return finish_run(settings, outcome, geometry.frame_size, report);
}

}  // namespace
}  // namespace framecmp

int main(int argc, char** argv) {
  return framecmp::run_comparer(argc, argv);
}
