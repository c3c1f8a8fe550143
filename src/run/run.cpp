#include "run/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "base/worker_pool.h"
#include "cli/command_line.h"
#include "input/frame_convert.h"
#include "input/frame_geometry.h"
#include "input/frame_hash.h"
#include "input/sequence_input.h"
#include "input/y4m.h"
#include "metrics/alignment.h"
#include "report/block_dump.h"
#include "report/block_lines.h"
#include "report/diff_image.h"
#include "report/hash_lines.h"
#include "report/measure_report.h"
#include "report/output_file.h"
#include "report/progress.h"
#include "report/report_writer.h"
#include "report/run_summary.h"
#include "run/run_plan.h"
#include "run/side_files.h"

#include "input/file_descriptor.h"
#include "input/frame_buffers.h"
#include "input/pair_reader.h"
#include "run/run_loop.h"

namespace framecmp {
namespace {

// Report lines are gathered into blocks of this size before they reach standard output.
constexpr std::size_t kReportBufferSize = std::size_t{768} << 10;

// The two sequences of a run.
struct Inputs {
  SequenceSource& test;
  SequenceSource& ref;
};

// Reports the first read failure of the run, if any; true when there was one. A
// YUV4MPEG2 frame without its marker is named as such.
bool report_read_failure(const RunSettings& settings, const Inputs& inputs, const RunEnd end) {
  if (end != RunEnd::kTestReadFailed && end != RunEnd::kRefReadFailed) return false;
  const bool test_failed = end == RunEnd::kTestReadFailed;
  const char* const path = test_failed ? settings.test_path : settings.ref_path;
  const SequenceSource& source = test_failed ? inputs.test : inputs.ref;
  const std::int64_t bad_frame = source.bad_marker_frame();
  if (bad_frame >= 0 && source.marker_too_long()) {
    std::fprintf(stderr,
                 "\nFile \"%s\" is not a valid YUV4MPEG2 stream: frame %" PRId64
                 " has a FRAME line longer than %zu bytes!\n\n",
                 path, bad_frame, kMaxY4mMarkerLength);
  } else if (bad_frame >= 0) {
    std::fprintf(stderr,
                 "\nFile \"%s\" is not a valid YUV4MPEG2 stream: frame %" PRId64
                 " does not start with FRAME!\n\n",
                 path, bad_frame);
  } else {
    std::fprintf(stderr, "\nCannot read file \"%s\"!\n\n", path);
  }
  return true;
}

// Writes the difference picture after the report, or says why there is none; false when
// it could not be written.
bool finish_diff_image(const RunSettings& settings, const DiffImageTaker& taker) {
  if (!taker.drawn()) {
    if (settings.diff_frame >= 0) {
      std::fprintf(stderr,
                   "\nNo difference image: frame %d was not compared (\"%s\" not written).\n\n",
                   settings.diff_frame, settings.diff_image);
    } else {
      std::fprintf(stderr,
                   "\nNo difference image: no frame pair differs beyond the tolerance (\"%s\" not "
                   "written).\n\n",
                   settings.diff_image);
    }
    return true;
  }
  if (write_png(taker.image(), settings.diff_image)) return true;
  std::fprintf(stderr, "\nCannot write image \"%s\"!\n\n", settings.diff_image);
  return false;
}

CompareOptions compare_options(const RunSettings& settings, FrameObserver* observer,
                               WorkerPool& workers) {
  CompareOptions options;
  options.observer = observer;
  options.workers = &workers;
  options.max_count = settings.max_count;
  options.tolerance = settings.tolerance;
  options.first_frame = settings.skip_test;
  options.frames_limit = settings.frames_limit;
  return options;
}

// Hands every frame pair to each of a few observers.
class ObserverFanOut final : public FrameObserver {
 public:
  // Null observers are left out.
  void add(FrameObserver* const observer) {
    if (observer != nullptr) observers_[count_++] = observer;
  }
  // The one observer there is, this fan-out for several, or null.
  FrameObserver* single() { return count_ == 0 ? nullptr : count_ == 1 ? observers_[0] : this; }
  void frame(const std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
             const bool differs) override {
    for (std::size_t i = 0; i < count_; ++i) observers_[i]->frame(index, test, ref, differs);
  }

 private:
  std::array<FrameObserver*, 4> observers_{};
  std::size_t count_ = 0;
};

// What watches the frames of a run: the progress line, the difference picture, the block
// dump and the alignment probe, any of them absent.
struct Watchers {
  DiffImageTaker* image = nullptr;
  ProgressLine* progress = nullptr;  // hands every frame on to the others
  FrameObserver* others = nullptr;   // the picture, the dump, the alignment probe, the page
  BlockDump* dump = nullptr;
  AlignmentProbe* probe = nullptr;

  FrameObserver* observer() const {
    return progress != nullptr ? static_cast<FrameObserver*>(progress) : others;
  }
  // The progress line goes before anything else reaches the terminal.
  void comparison_done() const {
    if (progress != nullptr) progress->erase();
  }
};

// What a run's comparison works with, once its inputs are settled and aligned.
struct RunParts {
  const RunSettings& settings;
  const Inputs& inputs;
  const FrameGeometry& geometry;
  PairReader& reader;
  OutputSink& sink;  // standard output
  const Watchers& watchers;
  WorkerPool& workers;
  MetricSet& metrics;  // booked by the statistics of every report that measures
  SideFiles* stats;    // null without --stats-file, --vmaf-log and --html
  // The files stored otherwise than compared, whose partial frames are named in their own
  // bytes; null for a file read as compared.
  const ConvertingSource* test_converted = nullptr;
  const ConvertingSource* ref_converted = nullptr;
};

// After the verdict on a run in which every compared frame differs: the frame offset at
// which the sequences match or come much closer, if there is one.
void write_shift_hint(const RunSettings& settings, const ComparisonOutcome& outcome,
                      const AlignmentProbe* const probe) {
  if (probe == nullptr || outcome.frames_compared < 2 ||
      outcome.differing_frames != outcome.frames_compared) {
    return;
  }
  if (const std::optional<Shift> shift = probe->best_shift(); shift) {
    std::fprintf(stderr, "\n%s\n\n",
                 shift_hint(*shift, settings.skip_test, settings.skip_ref).c_str());
  }
}

// `outcome` with the partial frames of files stored otherwise than compared counted in
// their own bytes and frame sizes.
ComparisonOutcome stored_tails(ComparisonOutcome outcome, const RunParts* const run) {
  if (run == nullptr) return outcome;
  if (run->test_converted != nullptr && outcome.test_partial) {
    outcome.test_tail = run->test_converted->stored_tail();
    outcome.test_frame_size = run->test_converted->stored_frame_size();
  }
  if (run->ref_converted != nullptr && outcome.ref_partial) {
    outcome.ref_tail = run->ref_converted->stored_tail();
    outcome.ref_frame_size = run->ref_converted->stored_frame_size();
  }
  return outcome;
}

// Names a sample that a file holds beyond the high bits it is compared in, when the read
// failed for it; true when one did.
bool report_sample_beyond(const RunSettings& settings, const ConvertingSource* const converted,
                          const bool test_failed, const std::int64_t frame) {
  if (converted == nullptr || !converted->beyond()) return false;
  const ConvertingSource::Beyond& beyond = *converted->beyond();
  const PixelFormat test = settings.test_format.value_or(settings.format);
  const PixelFormat ref = settings.ref_format.value_or(settings.format);
  const PixelFormat& own = test_failed ? test : ref;
  const PixelFormat& other = test_failed ? ref : test;
  std::fprintf(stderr,
               "\nFile \"%s\" holds %u in frame %" PRId64
               ", plane %c at (%d, %d), beyond the %d bits of %s: no %s word can hold it!\n\n",
               test_failed ? settings.test_path : settings.ref_path, beyond.value, frame,
               beyond.plane_letter, beyond.row, beyond.column, own.depth, own.name.c_str(),
               other.name.c_str());
  return true;
}

// The read failure of a run, a sample too large to compare first (`run` holds the
// converted sources; null before the comparison): true when there was one.
bool report_failed_read(const RunSettings& settings, const Inputs& inputs,
                        const ComparisonOutcome& outcome, const RunParts* const run) {
  const bool test_failed = outcome.end == RunEnd::kTestReadFailed;
  if (run != nullptr && (test_failed || outcome.end == RunEnd::kRefReadFailed) &&
      report_sample_beyond(
          settings, test_failed ? run->test_converted : run->ref_converted, test_failed,
          (test_failed ? settings.skip_test : settings.skip_ref) + outcome.frames_compared)) {
    return true;
  }
  return report_read_failure(settings, inputs, outcome.end);
}

// The closing messages of a run as standard error will show them (for the page).
std::string closing_text(const RunSettings& settings, const ComparisonOutcome& outcome,
                         const std::int64_t frame_size) {
  if (settings.html == nullptr) return {};
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* const stream = open_memstream(&data, &size);
  if (stream == nullptr) return {};
  write_run_end(stream, settings, outcome, frame_size);
  std::fclose(stream);
  std::string text(data, size);
  std::free(data);
  // The messages stand between blank lines on a terminal; the page wants their words.
  const std::size_t first = text.find_first_not_of('\n');
  const std::size_t last = text.find_last_not_of('\n');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Ends a run whose comparison has finished: failures first, then the closing messages.
// `report_written` tells whether everything for standard output got there; `run` (null
// for a run that failed before its comparison) holds the stats file, the block dump, the
// alignment probe and the difference picture to write last.
int finish_run(const RunSettings& settings, const Inputs& inputs, const ComparisonOutcome& outcome,
               const std::int64_t frame_size, bool report_written, const RunParts* run = nullptr) {
  bool failed = report_failed_read(settings, inputs, outcome, run);
  const Watchers* const watchers = run != nullptr ? &run->watchers : nullptr;
  // The dump follows the report on standard output.
  const BlockDump* const dump = watchers != nullptr ? watchers->dump : nullptr;
  if (!failed && report_written && dump != nullptr && dump->taken()) {
    const std::string text = dump->text();
    report_written = run->sink.write(text.data(), text.size());
  }
  if (!report_written) {
    std::fputs("\nCannot write to standard output!\n\n", stderr);
    failed = true;
  }
  // A failed run leaves whatever was at the stats file's path as it was.
  SideFiles* const stats = run != nullptr ? run->stats : nullptr;
  if (!failed && stats != nullptr &&
      !stats->finish(outcome, closing_text(settings, stored_tails(outcome, run), frame_size))) {
    failed = true;
  }
  if (failed) return exit_status(settings, outcome, failed);
  write_run_end(stderr, settings, stored_tails(outcome, run), frame_size);
  write_shift_hint(settings, outcome, watchers != nullptr ? watchers->probe : nullptr);
  if (dump != nullptr && !dump->taken()) {
    std::fprintf(stderr, "\nNo dump: frame %d was not compared.\n\n", settings.dump_frame);
    failed = true;
  }
  const DiffImageTaker* const image = watchers != nullptr ? watchers->image : nullptr;
  if (image != nullptr && !finish_diff_image(settings, *image)) failed = true;
  return exit_status(settings, outcome, failed);
}

// The run of --report=frames or summary, text or JSON.
int measure_run(const RunParts& run) {
  const RunSettings& settings = run.settings;
  const Inputs& inputs = run.inputs;
  const FrameGeometry& geometry = run.geometry;
  PairReader& reader = run.reader;
  OutputSink& sink = run.sink;
  const Watchers& watchers = run.watchers;
  const CompareOptions options = compare_options(settings, watchers.observer(), run.workers);
  const bool per_frame = settings.report == ReportKind::kFrames;
  const auto failed_read = [](const ComparisonOutcome& outcome) {
    return outcome.end == RunEnd::kTestReadFailed || outcome.end == RunEnd::kRefReadFailed;
  };
  // The statistics go to the report and, with --stats-file, to the file too.
  const auto measure = [&](MeasureSink& report) {
    if (run.stats == nullptr) {
      return measure_sequences(geometry, options, reader, &run.metrics, report);
    }
    MeasureTee both(report, run.stats->sink());
    return measure_sequences(geometry, options, reader, &run.metrics, both);
  };
  if (settings.json) {
    JsonMeasureReport report(run.metrics, per_frame, settings, sink);
    const ComparisonOutcome outcome = measure(report);
    watchers.comparison_done();
    // A failed run gets no end of its document (and a short one writes nothing at all).
    const bool written =
        outcome.end != RunEnd::kOutputLost && (failed_read(outcome) || report.finish(outcome));
    return finish_run(settings, inputs, outcome, geometry.frame_size, written, &run);
  }
  const auto run_text_report = [&](auto& report) {
    const ComparisonOutcome outcome = measure(report);
    watchers.comparison_done();
    const bool written = report.finish(failed_read(outcome)) && outcome.end != RunEnd::kOutputLost;
    return finish_run(settings, inputs, outcome, geometry.frame_size, written, &run);
  };
  if (settings.csv) {
    CsvMeasureReport report(run.metrics, per_frame, sink);
    return run_text_report(report);
  }
  TextMeasureReport report(run.metrics, per_frame, sink);
  return run_text_report(report);
}

// Lets both sequences be mapped when --mmap asks for it, before anything is read.
void allow_mapping(const RunSettings& settings, SequenceSource& test, SequenceSource& ref) {
  if (!settings.map_files) return;
  test.allow_mapping();
  ref.allow_mapping();
}

// Opens one sequence; false (after saying so) when it cannot be opened.
bool open_input(const char* path, const bool standard_input_free,
                std::optional<FileDescriptor>& file) {
  file.emplace(open_sequence(path, standard_input_free));
  if (file->is_open()) return true;
  std::fprintf(stderr, "\nCannot open file \"%s\"!\n\n", path);
  return false;
}

// Looks for YUV4MPEG2 headers in both sequences (the modern form; `ref` null for a run of
// the test alone) and plans the run from them and the command line; false (after saying
// why) when a header is bad or the run cannot be planned.
bool plan_from_inputs(RunSettings& settings, SequenceSource& test, SequenceSource* const ref,
                      RunPlan& plan) {
  std::optional<Y4mHeader> headers[2];
  SequenceSource* const sources[] = {&test, ref};
  const char* const paths[] = {settings.test_path, settings.ref_path};
  for (int i = 0; i < (ref != nullptr ? 2 : 1); ++i) {
    const SequenceSource::Detection detection = sources[i]->detect();
    if (detection.read_failed) {
      std::fprintf(stderr, "\nCannot read file \"%s\"!\n\n", paths[i]);
      return false;
    }
    if (!detection.y4m) continue;
    using HeaderProblem = SequenceSource::Detection::HeaderProblem;
    const Y4mHeaderResult parsed =
        detection.header_problem == HeaderProblem::kTooLong
            ? Y4mHeaderResult{std::nullopt, "a header line without a newline within 4096 bytes"}
        : detection.header_problem == HeaderProblem::kEnded
            ? Y4mHeaderResult{std::nullopt, "the file ends inside its header"}
            : parse_y4m_header(detection.header_line);
    if (!parsed.header) {
      std::fprintf(stderr, "\nFile \"%s\" is not a valid YUV4MPEG2 stream: %s!\n\n", paths[i],
                   parsed.problem.c_str());
      return false;
    }
    headers[i] = parsed.header;
  }
  const std::string problem = plan_run(settings, headers[0], headers[1], plan);
  if (problem.empty()) return true;
  std::fputs(problem.c_str(), stderr);
  return false;
}

// Whether the run shows the progress line: never in the classic form; by default when
// standard error is a terminal and the report does not write to that terminal meanwhile.
bool wants_progress(const RunSettings& settings) {
  if (!settings.modern || settings.progress == ProgressChoice::kOff) return false;
  if (settings.progress == ProgressChoice::kOn) return true;
  const bool quiet_meanwhile =
      settings.report == ReportKind::kSummary || settings.json || ::isatty(STDOUT_FILENO) == 0;
  return ::isatty(STDERR_FILENO) != 0 && quiet_meanwhile;
}

// Frame pairs a run will compare, when both inputs are raw regular files (of frames of
// the sizes they are stored in); -1 otherwise.
std::int64_t expected_pairs(const RunSettings& settings, const int test_fd, const int ref_fd,
                            const SequenceSource& test, const SequenceSource& ref,
                            const std::int64_t test_frame_size, const std::int64_t ref_frame_size) {
  if (test.is_y4m() || ref.is_y4m()) return -1;
  const auto frames_left = [&](const int fd, const std::int64_t frame_size) -> std::int64_t {
    struct stat status {};
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || at < 0) return -1;
    return std::max<std::int64_t>(0, (status.st_size - at) / frame_size);
  };
  const std::int64_t test_frames = frames_left(test_fd, test_frame_size);
  const std::int64_t ref_frames = frames_left(ref_fd, ref_frame_size);
  if (test_frames < 0 || ref_frames < 0) return -1;
  std::int64_t pairs = std::min(test_frames, ref_frames);
  if (settings.frames_limit > 0) pairs = std::min<std::int64_t>(pairs, settings.frames_limit);
  return pairs;
}

// The hint for a YUV4MPEG2 file on a classic command line, which reads it as raw samples:
// the same command line with "--" before the arguments reads its header.
void write_y4m_hint(const char* const path, const int argc, const char* const* const argv) {
  std::string example = "framecmp --";
  for (int i = 1; i < argc; ++i) (example += ' ') += argv[i];
  std::fprintf(stderr,
               "\nFile \"%s\" is a YUV4MPEG2 stream: read it with an option or --, as in: %s\n\n",
               path, example.c_str());
}

// Takes the difference picture's memory into `taker`; false (after saying why) when the
// picture is beyond PNG or the memory cannot be had.
bool take_picture_memory(const RunSettings& settings, const FrameGeometry& geometry,
                         std::optional<DiffImageTaker>& taker) {
  std::int64_t width = 0;
  std::int64_t height = 0;
  panel_places(geometry, width, height);
  if (width > kMaxPngSide || height > kMaxPngSide) {
    std::fprintf(stderr,
                 "\nCannot write image \"%s\": %" PRId64 "x%" PRId64
                 " pixels is beyond what PNG can hold!\n\n",
                 settings.diff_image, width, height);
    return false;
  }
  std::optional<RgbImage> picture = make_difference_image(geometry);
  if (!picture) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return false;
  }
  DrawOptions options;
  options.scale = settings.diff_scale;
  options.scale_limit = stored_tolerance(geometry, settings.diff_scale_limit);
  if (settings.dump_frame >= 0) options.outline_block = settings.dump_block;
  taker.emplace(geometry, stored_tolerance(geometry, settings.tolerance), settings.diff_frame,
                std::move(*picture), options);
  return true;
}

// Refuses (after saying so) a --diff-image or --stats-file that names one of the inputs,
// the two naming one file, or a picture that may not be written: true when one does.
bool output_would_overwrite_input(const RunSettings& settings, const FileDescriptor& test,
                                  const FileDescriptor& ref) {
  for (const auto& [option, output] :
       {std::pair{"diff-image", settings.diff_image}, std::pair{"stats-file", settings.stats_file},
        std::pair{"vmaf-log", settings.vmaf_log}, std::pair{"html", settings.html}}) {
    if (output == nullptr) continue;
    for (const auto& [path, file] :
         {std::pair{settings.test_path, &test}, std::pair{settings.ref_path, &ref}}) {
      if (!is_input_file(output, path, file->get())) continue;
      std::fprintf(stderr,
                   "\nOption \"--%s\" names an input file: \"%s\" would be overwritten!\n\n",
                   option, path);
      return true;
    }
  }
  for (const auto& [first, first_path, second, second_path] :
       {std::tuple{"stats-file", settings.stats_file, "diff-image", settings.diff_image},
        std::tuple{"stats-file", settings.stats_file, "vmaf-log", settings.vmaf_log},
        std::tuple{"vmaf-log", settings.vmaf_log, "diff-image", settings.diff_image},
        std::tuple{"html", settings.html, "diff-image", settings.diff_image},
        std::tuple{"html", settings.html, "stats-file", settings.stats_file},
        std::tuple{"html", settings.html, "vmaf-log", settings.vmaf_log}}) {
    if (first_path == nullptr || second_path == nullptr) continue;
    if (!same_output_file(first_path, second_path)) continue;
    std::fprintf(stderr, "\nOptions \"--%s\" and \"--%s\" name the same file!\n\n", first, second);
    return true;
  }
  if (settings.diff_image != nullptr) {
    if (const int error = output_problem(settings.diff_image); error != 0) {
      std::fprintf(stderr, "\nCannot write image \"%s\": %s!\n\n", settings.diff_image,
                   std::strerror(error));
      return true;
    }
  }
  return false;
}

// Hands every pair to a metric that writes lines; with --stats-file the statistics follow
// it, while the lines decide the run (MAX_COUNT, a lost output).
ComparisonOutcome run_lines(const RunParts& run, const CompareOptions& options, PairMetric& lines) {
  if (run.stats == nullptr) return run_pairs(run.reader, options, lines);
  PairStatistics statistics(run.geometry, options.tolerance, options.workers, &run.metrics,
                            run.stats->sink());
  MetricPair both(lines, statistics);
  const ComparisonOutcome outcome = run_pairs(run.reader, options, both);
  statistics.finish();
  return outcome;
}

// The sample lines of a run, then its closing messages.
int sample_lines_run(const RunParts& run, const std::span<char> report_buffer) {
  ReportWriter report(run.sink, report_buffer);
  const CompareOptions options =
      compare_options(run.settings, run.watchers.observer(), run.workers);
  SampleLines lines(run.geometry, options.max_count, options.tolerance, options.workers, report);
  const ComparisonOutcome outcome = run_lines(run, options, lines);
  run.watchers.comparison_done();
  // Everything for standard output goes out before anything reaches standard error, so
  // that a terminal shows the two streams in order.
  const bool written = report.flush();
  return finish_run(run.settings, run.inputs, outcome, run.geometry.frame_size, written, &run);
}

// The damaged blocks of a run, as lines or as a JSON document, then its closing messages.
int block_lines_run(const RunParts& run, const std::span<char> report_buffer) {
  const RunSettings& settings = run.settings;
  ReportWriter report(run.sink, report_buffer);
  const CompareOptions options = compare_options(settings, run.watchers.observer(), run.workers);
  std::string json;
  if (settings.json) {
    append_json_head(json, settings);
    json += ",\n  \"frames\": [";
  }
  // The document's head goes out before its first block, as the report's own bytes.
  bool written = json.empty() || run.sink.write(json.data(), json.size());
  BlockLines lines(run.geometry, options.max_count, options.tolerance, options.workers, report,
                   settings.json ? BlockFormat::kJson : BlockFormat::kText);
  ComparisonOutcome outcome;
  if (written) {
    outcome = run_lines(run, options, lines);
  } else {
    outcome.end = RunEnd::kOutputLost;
  }
  run.watchers.comparison_done();
  written = written && report.flush();
  const bool failed = outcome.end == RunEnd::kTestReadFailed ||
                      outcome.end == RunEnd::kRefReadFailed || outcome.end == RunEnd::kOutputLost;
  // A failed run gets no end of its document.
  if (written && settings.json && !failed) {
    json = lines.frames_written() > 0 ? "\n  ]" : "]";
    append_json_verdict(json, outcome);
    append_json_integer_member(json, 2, "damaged_blocks",
                               static_cast<std::uint64_t>(outcome.damaged_blocks));
    append_json_integer_member(json, 2, "differing",
                               static_cast<std::uint64_t>(outcome.mismatches));
    append_json_first_difference(json, outcome.first);
    json += "\n}\n";
    written = run.sink.write(json.data(), json.size());
  }
  return finish_run(settings, run.inputs, outcome, run.geometry.frame_size, written, &run);
}

// The verdict of a comparison of frame hashes, in the run's words.
void write_hash_verdict(const RunSettings& settings, const ComparisonOutcome& outcome,
                        const bool whole_stream, const std::int64_t frame_size) {
  if (outcome.mismatches == 0) {
    write_run_end(stderr, settings, outcome, frame_size);  // its partial-frame note included
    return;
  }
  if (whole_stream) {
    std::fprintf(stderr,
                 "\nFiles \"%s\" and \"%s\" differ: the MD5 of all %" PRId64 " frames differs.\n",
                 settings.test_path, settings.ref_path, outcome.frames_compared);
  } else {
    std::fprintf(stderr,
                 "\nFiles \"%s\" and \"%s\" differ: %" PRId64 " of %" PRId64
                 " frames, the first in frame %" PRId64 ".\n",
                 settings.test_path, settings.ref_path, outcome.differing_frames,
                 outcome.frames_compared, outcome.first_bad_frame);
  }
  if (outcome.end == RunEnd::kTestShorter || outcome.end == RunEnd::kRefShorter) {
    std::fprintf(stderr, "File \"%s\" ended first, after %" PRId64 " frames.\n",
                 outcome.end == RunEnd::kTestShorter ? settings.test_path : settings.ref_path,
                 outcome.frames_compared);
  }
  std::fputs("\n", stderr);
  if (outcome.test_partial) {
    std::fprintf(stderr,
                 "\nFile \"%s\" ends in a partial frame of %zu bytes (a frame is %" PRId64
                 " bytes): are the size and the pixel format right?\n\n",
                 settings.test_path, outcome.test_tail, frame_size);
  }
}

// A whole-stream hash covers the file from its first frame to its last byte: options that
// would hash only part of it are refused; "" when none was given.
std::string whole_stream_cuts(const RunSettings& settings) {
  std::vector<std::string> given;
  if (settings.skip_both) {
    given.emplace_back("--skip");
  } else if (settings.skip_ref > 0) {
    given.emplace_back("--skip-ref");
  }
  if (settings.frames_limit > 0) given.emplace_back("--frames");
  if (given.empty()) return {};
  std::string names = "\"" + given[0] + "\"";
  if (given.size() > 1) names += " and \"" + given[1] + "\"";
  return std::string("\nOption") + (given.size() > 1 ? "s " : " ") + names +
         " cannot cut a whole-stream MD5!\n\n";
}

// What a hash run writes with: its settings, the list, the lines and where they go.
struct HashRun {
  const RunSettings& settings;
  HashList& list;
  HashLines& lines;
  OutputSink& sink;
  std::size_t frame_size;
};

// The closing line of a hash run: all frames' MD5, or the whole stream's against the
// list's. Books a differing whole stream in `outcome`; false when it could not be written.
bool write_whole_stream_line(const HashRun& run, ComparisonOutcome& outcome) {
  const RunSettings& settings = run.settings;
  const Md5Digest all = run.lines.all_read();
  if (settings.report == ReportKind::kMd5) {
    const std::string line = md5_hex(all) + "  all\n";
    return run.sink.write(line.data(), line.size());
  }
  if (!run.list.whole_stream()) return true;
  Md5Digest listed{};
  run.list.next(listed);
  const bool same = all == listed;
  const std::string line =
      "MD5 test=" + md5_hex(all) + (same ? " == ref=" : " != ref=") + md5_hex(listed) + "\n";
  if (!same) {
    outcome.mismatches = outcome.differing_frames = 1;
    outcome.first_bad_frame = settings.skip_test;
  } else if (outcome.test_partial && outcome.test_tail == 0) {
    // A YUV4MPEG2 frame begun without samples adds nothing to the hash, yet is more than
    // the list's stream held.
    outcome.end = RunEnd::kRefShorter;
  }
  return run.sink.write(line.data(), line.size());
}

// Opens the list of --ref-md5 and refuses a whole-stream list with options that would cut
// the stream; false (after saying why) when the run cannot go on.
bool open_hash_list(const RunSettings& settings, HashList& list) {
  if (!list.open(settings.ref_md5)) {
    std::fprintf(stderr, "\nFile \"%s\" is no MD5 list: %s!\n\n", settings.ref_md5,
                 list.problem().c_str());
    return false;
  }
  const std::string cut = list.whole_stream() ? whole_stream_cuts(settings) : std::string();
  if (!cut.empty()) std::fputs(cut.c_str(), stderr);
  return cut.empty();
}

// Opens the test of a hash run; false (after saying why) when it cannot be read or the
// report could never be written: the hash report always writes, a list only where frames
// differ.
bool open_hashed_test(const RunSettings& settings, const StandardDescriptors& closed,
                      std::optional<FileDescriptor>& test_file) {
  if (closed.output_closed && settings.report == ReportKind::kMd5) {
    std::fputs("\nCannot write to standard output!\n\n", stderr);
    return false;
  }
  return open_input(settings.test_path, !closed.input_closed, test_file);
}

// Passes over the first `count` hashes of a per-frame list (--skip-ref), fewer where it
// ends first.
void skip_listed(const std::int32_t count, HashList& list) {
  Md5Digest listed{};
  for (std::int32_t i = 0; i < count; ++i) {
    if (list.next(listed) != HashList::Next::kHash) return;
  }
}

// Ends a hash run whose frames `hash_frames` went through: a bad list line, a failed read
// or a lost output is said; else the closing line and the verdict. False for a run that
// failed with an error said here.
bool finish_hash_run(const HashRun& run, const Inputs& inputs, const bool bad_list,
                     ComparisonOutcome& outcome) {
  const RunSettings& settings = run.settings;
  const auto frame_size = static_cast<std::int64_t>(run.frame_size);
  if (bad_list) {
    std::fprintf(stderr, "\nFile \"%s\" is no MD5 list: %s!\n\n", settings.ref_md5,
                 run.list.problem().c_str());
    return false;
  }
  if (outcome.end == RunEnd::kTestReadFailed) {
    finish_run(settings, inputs, outcome, frame_size, true);
    return false;
  }
  if (outcome.end == RunEnd::kOutputLost || !write_whole_stream_line(run, outcome)) {
    std::fputs("\nCannot write to standard output!\n\n", stderr);
    return false;
  }
  if (settings.ref_md5 != nullptr) {
    write_hash_verdict(settings, outcome, run.list.whole_stream(), frame_size);
  } else if (outcome.test_partial) {
    std::fprintf(stderr,
                 "\nFile \"%s\" ends in a partial frame of %zu bytes (a frame is %" PRId64
                 " bytes): are the size and the pixel format right?\n\n",
                 settings.test_path, outcome.test_tail, frame_size);
  }
  return true;
}

// The run of --report=md5 (every test frame's MD5, then all frames') or --ref-md5 (the
// test's frames against a hash list): the test is read once, the list a line at a time.
int hash_run(RunSettings settings, const StandardDescriptors& closed) {
  const int trouble = settings.exit_code ? kStatusTrouble : 1;
  std::optional<FileDescriptor> test_file;
  if (!open_hashed_test(settings, closed, test_file)) return trouble;
  SequenceSource test(test_file->get());
  if (settings.map_files) test.allow_mapping();
  RunPlan plan;
  if (!plan_from_inputs(settings, test, nullptr, plan)) return trouble;
  HashList list;
  if (settings.ref_md5 != nullptr && !open_hash_list(settings, list)) return trouble;
  const FrameGeometry geometry =
      make_frame_geometry(settings.format, settings.width, settings.height, settings.block_size);
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  FrameBuffer buffer(frame_size);
  std::optional<ProgressLine> progress;
  if (wants_progress(settings)) {
    progress.emplace(STDERR_FILENO, -1, geometry.frame_size, nullptr);
  }
  FdSink output(closed.output_closed ? -1 : STDOUT_FILENO);
  ProgressErasingSink sink(
      output, progress && same_terminal(STDOUT_FILENO, STDERR_FILENO) ? &*progress : nullptr);
  HashLines lines(settings.report == ReportKind::kMd5, sink);
  if (buffer.data() == nullptr || !lines.ok()) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return trouble;
  }
  test.set_frame_size(frame_size);
  const Inputs inputs{test, test};
  if (!test.skip_frames(settings.skip_test, frame_size, buffer.data())) {
    return finish_run(settings, inputs, {RunEnd::kTestReadFailed}, geometry.frame_size, true);
  }
  const bool per_frame = settings.ref_md5 != nullptr && !list.whole_stream();
  if (per_frame) skip_listed(settings.skip_ref, list);
  HashPairReader reader(test, per_frame ? &list : nullptr, buffer.data(), frame_size,
                        settings.skip_test);
  CompareOptions options;
  options.first_frame = settings.skip_test;
  options.frames_limit = settings.frames_limit;
  options.observer = progress ? &*progress : nullptr;
  ComparisonOutcome outcome = run_pairs(reader, options, lines);
  if (progress) progress->erase();
  lines.add_tail(reader.tail());
  const HashRun run{settings, list, lines, sink, frame_size};
  if (!finish_hash_run(run, inputs, reader.bad_list(), outcome)) return trouble;
  return exit_status(settings, outcome, false);
}

}  // namespace

void hint_at_y4m_arguments(const int argc, const char* const* const argv) {
  for (int i = 1; i < argc; ++i) {
    if (is_standard_input(argv[i])) continue;
    // Non-blocking, so that a FIFO among the arguments cannot hold the process.
    const int fd = ::open(argv[i], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat status {};
    char head[kY4mMagic.size()];
    const bool y4m = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                     ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                     std::string_view(head, sizeof head) == kY4mMagic;
    ::close(fd);
    if (y4m) {
      write_y4m_hint(argv[i], argc, argv);
      return;
    }
  }
}

namespace {

// The two files of a run, open, and their sequences.
struct OpenFiles {
  std::optional<FileDescriptor> test_file;
  std::optional<FileDescriptor> ref_file;
  std::optional<SequenceSource> test;
  std::optional<SequenceSource> ref;
};

// Opens both files (the reference may be standard input only when the test is not);
// false (after saying so) when one cannot be opened.
bool open_files(const RunSettings& settings, const StandardDescriptors& closed, OpenFiles& files) {
  const bool stdin_free = !closed.input_closed;
  const bool ref_stdin_free = stdin_free && !is_standard_input(settings.test_path);
  if (!open_input(settings.test_path, stdin_free, files.test_file) ||
      !open_input(settings.ref_path, ref_stdin_free, files.ref_file)) {
    return false;
  }
  files.test.emplace(files.test_file->get());
  files.ref.emplace(files.ref_file->get());
  allow_mapping(settings, *files.test, *files.ref);
  return true;
}

// The sequences as compared: a file stored otherwise is converted frame by frame as it
// passes.
struct ComparedSources {
  std::optional<ConvertingSource> test_converted;
  std::optional<ConvertingSource> ref_converted;
  FrameSource* test = nullptr;
  FrameSource* ref = nullptr;
};

// Sets up `sources` for the files of `plan`; false (after saying so) without the memory.
bool compared_sources(const RunPlan& plan, OpenFiles& files, ComparedSources& sources) {
  files.test->set_frame_size(static_cast<std::size_t>(plan.test_stored.frame_size));
  files.ref->set_frame_size(static_cast<std::size_t>(plan.ref_stored.frame_size));
  if (plan.convert_test)
    sources.test_converted.emplace(*files.test, plan.test_stored, plan.geometry);
  if (plan.convert_ref) sources.ref_converted.emplace(*files.ref, plan.ref_stored, plan.geometry);
  if ((sources.test_converted && !sources.test_converted->ok()) ||
      (sources.ref_converted && !sources.ref_converted->ok())) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return false;
  }
  sources.test =
      sources.test_converted ? static_cast<FrameSource*>(&*sources.test_converted) : &*files.test;
  sources.ref =
      sources.ref_converted ? static_cast<FrameSource*>(&*sources.ref_converted) : &*files.ref;
  return true;
}

// The watchers of a run and what they are made of.
struct WatcherParts {
  std::optional<BlockDump> dump;
  std::optional<AlignmentProbe> probe;
  ObserverFanOut others;
  std::optional<ProgressLine> progress;
  Watchers watchers;
};

// Makes the watchers of a run: the picture (`taker`, may be empty), the block dump, the
// alignment probe (the modern form's verdict alone is followed by its hint) and the
// progress line; false (after saying so) for a dump block outside the --crop window.
bool make_watchers(const RunSettings& settings, const RunPlan& plan, const OpenFiles& files,
                   std::optional<DiffImageTaker>& taker, FrameObserver* const page,
                   WatcherParts& parts) {
  const FrameGeometry& geometry = plan.geometry;
  DiffImageTaker* const image = taker ? &*taker : nullptr;
  if (settings.dump_frame >= 0) {
    parts.dump.emplace(geometry, settings.dump_frame, settings.dump_block,
                       stored_tolerance(geometry, settings.tolerance));
    if (!parts.dump->has_samples()) {
      std::fprintf(stderr, "\nBlock %" PRId64 " lies outside the --crop window!\n\n",
                   settings.dump_block);
      return false;
    }
  }
  if (settings.modern) parts.probe.emplace(geometry);
  for (FrameObserver* const observer :
       {static_cast<FrameObserver*>(image),
        parts.dump ? static_cast<FrameObserver*>(&*parts.dump) : nullptr,
        parts.probe ? static_cast<FrameObserver*>(&*parts.probe) : nullptr, page}) {
    parts.others.add(observer);
  }
  if (wants_progress(settings)) {
    parts.progress.emplace(
        STDERR_FILENO,
        expected_pairs(settings, files.test_file->get(), files.ref_file->get(), *files.test,
                       *files.ref, plan.test_stored.frame_size, plan.ref_stored.frame_size),
        2 * geometry.frame_size, parts.others.single());
  }
  parts.watchers = {image, parts.progress ? &*parts.progress : nullptr, parts.others.single(),
                    parts.dump ? &*parts.dump : nullptr, parts.probe ? &*parts.probe : nullptr};
  return true;
}

// The report the run asks for, on the pairs of `run`.
int run_report(const RunParts& run, const std::span<char> report_buffer) {
  if (run.settings.report == ReportKind::kBlocks) return block_lines_run(run, report_buffer);
  if (run.settings.report != ReportKind::kSamples) return measure_run(run);
  return sample_lines_run(run, report_buffer);
}

// The classic form reads a YUV4MPEG2 file's header as samples: says how to read it.
void hint_classic_y4m(const RunSettings& settings, const OpenFiles& files, const int argc,
                      const char* const* const argv) {
  for (const SequenceSource* const source : {&*files.test, &*files.ref}) {
    if (!source->begins_with_y4m_magic()) continue;
    write_y4m_hint(source == &*files.test ? settings.test_path : settings.ref_path, argc, argv);
    return;
  }
}

// Whether a run with standard output closed must be refused before anything is read:
// statistics and JSON always write, so nothing could ever be written, and an endless
// input would be read forever.
bool output_needed_but_closed(const RunSettings& settings, const StandardDescriptors& closed) {
  const bool always_writes = settings.report == ReportKind::kFrames ||
                             settings.report == ReportKind::kSummary || settings.json;
  if (!always_writes || !closed.output_closed) return false;
  std::fputs("\nCannot write to standard output!\n\n", stderr);
  return true;
}

// Opens the files and plans the run in the modern form, which opens the files first since
// their headers may give the frame size; plans it alone in the classic form, which checks
// the buffers before it opens the files. False (after saying why) when it cannot go on.
bool open_and_plan(RunSettings& settings, const StandardDescriptors& closed, OpenFiles& files,
                   RunPlan& plan) {
  if (!settings.modern) {
    const std::string problem = plan_run(settings, std::nullopt, std::nullopt, plan);
    if (!problem.empty()) std::fputs(problem.c_str(), stderr);
    return problem.empty();
  }
  return open_files(settings, closed, files) &&
         !output_would_overwrite_input(settings, *files.test_file, *files.ref_file) &&
         plan_from_inputs(settings, *files.test, &*files.ref, plan);
}

// Skips the frames --skip-test and --skip-ref name, read into the buffers and dropped
// where no seek can pass them; the read failure that ends the run, if any.
std::optional<RunEnd> skip_frames(const RunSettings& settings, const ComparedSources& sources,
                                  FrameBuffers& buffers, const std::size_t frame_size) {
  if (!sources.test->skip_frames(settings.skip_test, frame_size, buffers.test.data())) {
    return RunEnd::kTestReadFailed;
  }
  if (!sources.ref->skip_frames(settings.skip_ref, frame_size, buffers.ref.data())) {
    return RunEnd::kRefReadFailed;
  }
  return std::nullopt;
}

// What a planned run has taken before its pairs are compared.
struct Taken {
  const RunPlan& plan;
  OpenFiles& files;
  ComparedSources& sources;
  FrameBuffers& buffers;
  std::optional<DiffImageTaker>& taker;
  std::span<char> report_buffer;
};

// Compares the pairs of a planned run and writes its report and closing messages.
int compare_planned(const RunSettings& settings, const StandardDescriptors& closed,
                    const Taken& taken) {
  const int trouble = settings.exit_code ? kStatusTrouble : 1;
  const FrameGeometry& geometry = taken.plan.geometry;
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  WorkerPool workers(settings.threads > 0 ? settings.threads : default_thread_count());
  MetricSet metrics(geometry, settings.metrics, &workers);
  std::optional<SideFiles> stats;
  if ((settings.stats_file != nullptr || settings.vmaf_log != nullptr ||
       settings.html != nullptr) &&
      !stats.emplace().open(settings, metrics)) {
    return trouble;
  }
  WatcherParts watching;
  if (!make_watchers(settings, taken.plan, taken.files, taken.taker,
                     stats ? stats->observer() : nullptr, watching)) {
    return trouble;
  }
  FdSink output(closed.output_closed ? -1 : STDOUT_FILENO);
  ProgressLine* const progress = watching.progress ? &*watching.progress : nullptr;
  ProgressErasingSink sink(
      output,
      progress != nullptr && same_terminal(STDOUT_FILENO, STDERR_FILENO) ? progress : nullptr);
  const ComparedSources& sources = taken.sources;
  PairReader reader(*sources.test, *sources.ref, taken.buffers, frame_size, settings.skip_test);
  reader.share_search(workers);
  const Inputs inputs{*taken.files.test, *taken.files.ref};
  const RunParts parts{settings,
                       inputs,
                       geometry,
                       reader,
                       sink,
                       watching.watchers,
                       workers,
                       metrics,
                       stats ? &*stats : nullptr,
                       sources.test_converted ? &*sources.test_converted : nullptr,
                       sources.ref_converted ? &*sources.ref_converted : nullptr};
  return run_report(parts, taken.report_buffer);
}

}  // namespace

int run_command_line(RunSettings settings, const StandardDescriptors& closed, const int argc,
                     const char* const* const argv) {
  if (settings.report == ReportKind::kMd5 || settings.ref_md5 != nullptr) {
    return hash_run(settings, closed);
  }
  const int trouble = settings.exit_code ? kStatusTrouble : 1;
  if (output_needed_but_closed(settings, closed)) return trouble;
  OpenFiles files;
  RunPlan plan;
  if (!open_and_plan(settings, closed, files, plan)) return trouble;
  const FrameGeometry& geometry = plan.geometry;
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  FrameBuffers buffers(frame_size);
  const std::unique_ptr<char[]> report_buffer(new (std::nothrow) char[kReportBufferSize]);
  if (!buffers.ok() || !report_buffer) {
    std::fputs("\nMemory exceeded!\n\n", stderr);
    return trouble;
  }
  // The picture's memory is taken before the comparison, so that a run never ends for
  // want of it after the work is done.
  std::optional<DiffImageTaker> taker;
  if (settings.diff_image != nullptr && !take_picture_memory(settings, geometry, taker)) {
    return trouble;
  }
  if (!settings.modern && !open_files(settings, closed, files)) return trouble;
  ComparedSources sources;
  if (!compared_sources(plan, files, sources)) return trouble;
  if (const std::optional<RunEnd> failed = skip_frames(settings, sources, buffers, frame_size)) {
    return finish_run(settings, {*files.test, *files.ref}, {*failed}, geometry.frame_size, true);
  }
  const int status = compare_planned(
      settings, closed,
      {plan, files, sources, buffers, taker, {report_buffer.get(), kReportBufferSize}});
  if (!settings.modern) hint_classic_y4m(settings, files, argc, argv);
  return status;
}

}  // namespace framecmp
