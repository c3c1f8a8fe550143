// framecmp: compares a test sequence with a reference sequence, both raw video files,
// and prints a line for every sample that differs, or statistics. Run control only: the
// command line, the resources, the run, the closing messages and the exit status.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "command_line.h"
#include "frame_geometry.h"
#include "measure_report.h"
#include "report_writer.h"
#include "run_summary.h"
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

// Reports the first read failure of the run, if any; true when there was one.
bool report_read_failure(const RunSettings& settings, const RunEnd end) {
  if (end != RunEnd::kTestReadFailed && end != RunEnd::kRefReadFailed) return false;
  std::fprintf(stderr, "\nCannot read file \"%s\"!\n\n",
               end == RunEnd::kTestReadFailed ? settings.test_path : settings.ref_path);
  return true;
}

// Ends a run whose comparison has finished: failures first, then the closing messages.
// `report_written` tells whether everything for standard output got there.
int finish_run(const RunSettings& settings, const ComparisonOutcome& outcome,
               const std::int64_t frame_size, const bool report_written) {
  bool failed = report_read_failure(settings, outcome.end);
  if (!report_written) {
    std::fputs("\nCannot write to standard output!\n\n", stderr);
    failed = true;
  }
  if (!failed) write_run_end(stderr, settings, outcome, frame_size);
  return exit_status(settings, outcome, failed);
}

CompareOptions compare_options(const RunSettings& settings) {
  CompareOptions options;
  options.max_count = settings.max_count;
  options.tolerance = settings.tolerance;
  options.first_frame = settings.skip_test;
  options.frames_limit = settings.frames_limit;
  return options;
}

// The run of --report=frames or summary, text or JSON.
int measure_run(const RunSettings& settings, const FrameGeometry& geometry,
                FrameBuffer& test_buffer, FrameBuffer& ref_buffer, FrameSource& test,
                FrameSource& ref, OutputSink& sink) {
  const CompareOptions options = compare_options(settings);
  const bool per_frame = settings.report == ReportKind::kFrames;
  if (settings.json) {
    JsonMeasureReport report(geometry, per_frame);
    const ComparisonOutcome outcome = measure_sequences(geometry, options, test_buffer.data(),
                                                        ref_buffer.data(), test, ref, report);
    // A failed run writes nothing on standard output.
    const bool failed_read =
        outcome.end == RunEnd::kTestReadFailed || outcome.end == RunEnd::kRefReadFailed;
    const bool written = failed_read || report.finish(settings, outcome, sink);
    return finish_run(settings, outcome, geometry.frame_size, written);
  }
  TextMeasureReport report(geometry, per_frame, sink);
  const ComparisonOutcome outcome = measure_sequences(geometry, options, test_buffer.data(),
                                                      ref_buffer.data(), test, ref, report);
  const bool written = report.finish();
  return finish_run(settings, outcome, geometry.frame_size, written);
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
      return command_line.exit_code ? kStatusTrouble : 1;
    case CommandAction::kShowHelp:
    case CommandAction::kShowVersion:
      return print_to_standard_output(command_line.message, closed) ? 0 : 1;
  }
  const RunSettings& settings = command_line.settings;
  const int trouble = settings.exit_code ? kStatusTrouble : 1;
  const FrameGeometry geometry =
      make_frame_geometry(settings.format, settings.width, settings.height, settings.block_size);

  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  FrameBuffer test_buffer(frame_size);
  FrameBuffer ref_buffer(frame_size);
  const std::unique_ptr<char[]> report_buffer(new (std::nothrow) char[kReportBufferSize]);
  if (test_buffer.data() == nullptr || ref_buffer.data() == nullptr || !report_buffer) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return trouble;
  }

  const FileDescriptor test_file = open_sequence(settings.test_path, !closed.input_closed);
  if (!test_file.is_open()) {
    std::fprintf(stderr, "\nCannot open file \"%s\"!\n\n", settings.test_path);
    return trouble;
  }
  const FileDescriptor ref_file = open_sequence(
      settings.ref_path, !closed.input_closed && !is_standard_input(settings.test_path));
  if (!ref_file.is_open()) {
    std::fprintf(stderr, "\nCannot open file \"%s\"!\n\n", settings.ref_path);
    return trouble;
  }

  FileSource test(test_file.get());
  FileSource ref(ref_file.get());
  // Frames skipped for alignment are read into the buffers and dropped where no seek can
  // pass them; a failed read there is a read failure like any other.
  if (!test.skip_frames(settings.skip_test, frame_size, test_buffer.data())) {
    return finish_run(settings, {RunEnd::kTestReadFailed}, geometry.frame_size, true);
  }
  if (!ref.skip_frames(settings.skip_ref, frame_size, ref_buffer.data())) {
    return finish_run(settings, {RunEnd::kRefReadFailed}, geometry.frame_size, true);
  }
  FdSink sink(closed.output_closed ? -1 : STDOUT_FILENO);
  if (settings.report != ReportKind::kSamples) {
    return measure_run(settings, geometry, test_buffer, ref_buffer, test, ref, sink);
  }
  ReportWriter report(sink, std::span<char>(report_buffer.get(), kReportBufferSize));
  const ComparisonOutcome outcome =
      compare_sequences(geometry, compare_options(settings), test_buffer.data(), ref_buffer.data(),
                        test, ref, report);
  // Everything for standard output goes out before anything reaches standard error, so
  // that a terminal shows the two streams in order.
  const bool written = report.flush();
  return finish_run(settings, outcome, geometry.frame_size, written);
}

}  // namespace
}  // namespace framecmp

int main(int argc, char** argv) {
  return framecmp::run_comparer(argc, argv);
}
