// End-to-end: runs the built framecmp and checks standard output, standard error and
// the exit status byte for byte.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/png_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Cli : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/framecmp-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes `frames` frames of `frame_size` bytes of a fixed pattern plus `tail` extra bytes,
  // then applies the (offset, value) pokes; returns the path.
  std::string write_sequence(const std::string& name, std::size_t frames, std::size_t tail = 0,
                             std::vector<std::pair<std::size_t, std::uint8_t>> pokes = {},
                             std::size_t frame_size = 768) {
    std::string bytes(frames * frame_size + tail, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 5 + i / 97);
    for (const auto& [offset, value] : pokes) bytes[offset] = static_cast<char>(value);
    const std::string file = path(name);
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

  struct RunOptions {
    std::string stdout_path;  // where standard output goes; empty: captured
    bool close_stdout = false;
    bool close_stdin = false;
    bool nonblocking_stdin = false;  // O_NONBLOCK on standard input, as some writers set it
    std::string stdin_path = "/dev/null";
    int stdin_fd = -1;  // when set, standard input is this descriptor instead of stdin_path
    rlim_t address_space = RLIM_INFINITY;
    rlim_t file_size = RLIM_INFINITY;
    uid_t user = 0;      // when set (and the tests run as root), framecmp runs as this user
    std::string binary;  // the framecmp to run; empty: the one built
  };

  // Runs framecmp with `args` after argument 0 and waits for it, a minute at the most.
  Result run(const std::vector<std::string>& args, const RunOptions& options) const {
    const std::string out_file = options.stdout_path.empty() ? path("stdout") : options.stdout_path;
    const std::string err_file = path("stderr");
    std::vector<std::string> all{FRAMECMP_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      // Only async-signal-safe calls between fork and exec: the test may run threads.
      dup2(options.stdin_fd >= 0 ? options.stdin_fd : open(options.stdin_path.c_str(), O_RDONLY),
           0);
      if (options.nonblocking_stdin) fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
      dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (options.close_stdout) {
        close(1);
      } else {
        dup2(open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      }
      if (options.close_stdin) close(0);  // last: every open above takes the lowest number
      const rlimit limit{options.address_space, options.address_space};
      setrlimit(RLIMIT_AS, &limit);
      const rlimit file_limit{options.file_size, options.file_size};
      setrlimit(RLIMIT_FSIZE, &file_limit);
      if (options.user != 0 && (setgid(options.user) != 0 || setuid(options.user) != 0)) _exit(126);
      execv(options.binary.empty() ? FRAMECMP_BINARY : options.binary.c_str(), argv.data());
      _exit(127);
    }
    Result result;
    result.status = wait_for(pid, std::chrono::seconds(60));
    if (options.stdout_path.empty() && !options.close_stdout) result.out = read_file(out_file);
    result.err = read_file(err_file);
    return result;
  }
  Result run(const std::vector<std::string>& args, const std::string& stdout_path = "") const {
    RunOptions options;
    options.stdout_path = stdout_path;
    return run(args, options);
  }

  // Exit status of `pid`, or 128 + the signal that ended it; kills it and fails the test
  // when it is still running after `limit`.
  static int wait_for(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "framecmp still ran after " << limit.count() << " ms";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // `text` with every "@name" replaced by the path of the file `name` in the test's folder.
  std::string resolve(std::string text) const {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) {
      std::size_t end = at + 1;
      while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
      text.replace(at, end - at, path(text.substr(at + 1, end - at - 1)));
    }
    return text;
  }

  // Runs one case of a table whose arguments and texts name files as "@name".
  void expect_case(const std::vector<std::string>& case_args, const std::string& out,
                   const std::string& err, int status) {
    expect_case(case_args, out, err, status, RunOptions());
  }
  void expect_case(const std::vector<std::string>& case_args, const std::string& out,
                   const std::string& err, int status, const RunOptions& options) {
    std::vector<std::string> args;
    for (const std::string& arg : case_args) args.push_back(resolve(arg));
    SCOPED_TRACE(case_args.empty() ? "" : case_args.front() + " " + case_args.back());
    expect(run(args, options), resolve(out), resolve(err), status);
  }

  void expect(const Result& r, const std::string& out, const std::string& err, int status) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
  }

  std::string dir_;
};

const std::string kUsage = std::string("\nUsage: ") + FRAMECMP_BINARY +
                           " (width) (height) (test.yuv) (ref.yuv) [(max_count)=0]\n\n";

std::string identical(const std::string& a, const std::string& b, int frames) {
  return "\nFiles \"" + a + "\" and \"" + b + "\" are identical (" + std::to_string(frames) +
         " frames)!\n\n";
}

std::string shorter(const std::string& a, int frames, const std::string& b) {
  return "\nFile \"" + a + "\" is shorter (" + std::to_string(frames) + " frames) than file \"" +
         b + "\"!\n\n";
}

std::string bad_dimensions(const std::string& w, const std::string& h, const std::string& wt,
                           const std::string& ht) {
  return "\nUnvalid image dimensions " + w + "x" + h + " (width=\"" + wt + "\", height=\"" + ht +
         "\")!\n\n";
}

TEST_F(Cli, WrongArgumentCountShowsUsage) {
  const std::vector<std::vector<std::string>> cases = {{},
                                                       {"32"},
                                                       {"32", "16"},
                                                       {"32", "16", "a"},
                                                       {"32", "16", "a", "b", "0", "extra"},
                                                       {"32", "16", "a", "b", "0", "x", "y"}};
  for (const auto& args : cases) expect(run(args), "", kUsage, 1);
}

TEST_F(Cli, EmptyArgumentVectorShowsUsageWithTheToolsName) {
  const std::string err_file = path("stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    char* const no_arguments[] = {nullptr};
    execve(FRAMECMP_BINARY, no_arguments, environ);
    _exit(127);
  }
  EXPECT_EQ(wait_for(pid, std::chrono::seconds(20)), 1);
  EXPECT_EQ(read_file(err_file),
            "\nUsage: framecmp (width) (height) (test.yuv) (ref.yuv) [(max_count)=0]\n\n");
}

TEST_F(Cli, RefusedDimensionsShowConvertedAndTypedValues) {
  const struct {
    std::string width, height, shown_width, shown_height;
  } cases[] = {
      {"24", "16", "24", "16"},
      {"-16", "16", "-16", "16"},
      {"32px", "20", "32", "20"},
      {"abc", "16", "0", "16"},
      {"0", "0", "0", "0"},
      {"4294967312", "16", "2147483647", "16"},
      {"32", "-99999999999", "32", "-2147483648"},
      {"65536", "32768", "65536", "32768"},  // frame size beyond 2 GiB
  };
  for (const auto& c : cases) {
    expect(run({c.width, c.height, "missing.yuv", "missing.yuv"}), "",
           bad_dimensions(c.shown_width, c.shown_height, c.width, c.height), 1);
  }
}

TEST_F(Cli, NegativeLimitIsRefusedBeforeAnyFileIsOpened) {
  expect(run({"32", "16", "missing", "missing", "-1"}), "",
         "\nInvalid mismatch limit -1 (max_count=\"-1\")!\n\n", 1);
  expect(run({"32", "16", "missing", "missing", "-5000000000"}), "",
         "\nInvalid mismatch limit -2147483648 (max_count=\"-5000000000\")!\n\n", 1);
}

TEST_F(Cli, FilesThatCannotBeOpenedAreNamedTestFirst) {
  const std::string good = write_sequence("good.yuv", 1);
  const std::string missing = path("missing.yuv");
  const std::string open_failure_test = "\nCannot open file \"" + missing + "\"!\n\n";
  expect(run({"32", "16", missing, good}), "", open_failure_test, 1);
  expect(run({"32", "16", missing, path("also-missing")}), "", open_failure_test, 1);
  expect(run({"32", "16", good, missing}), "", open_failure_test, 1);
  // A directory opens under POSIX but is no sequence.
  expect(run({"32", "16", dir_, good}), "", "\nCannot open file \"" + dir_ + "\"!\n\n", 1);
  expect(run({"32", "16", good, dir_}), "", "\nCannot open file \"" + dir_ + "\"!\n\n", 1);
}

TEST_F(Cli, SummariesWhenNoSampleDiffers) {
  const std::string three = write_sequence("three.yuv", 3);
  const std::string three_copy = write_sequence("three-copy.yuv", 3);
  const std::string two = write_sequence("two.yuv", 2);
  const std::string empty = write_sequence("empty.yuv", 0);
  const std::string empty_copy = write_sequence("empty-copy.yuv", 0);
  const std::string tail = write_sequence("tail.yuv", 2, 100);
  const std::string tail_other = write_sequence("tail-other.yuv", 2, 100, {{2 * 768 + 3, 0xAB}});
  expect(run({"32", "16", three, three_copy}), "", identical(three, three_copy, 3), 0);
  expect(run({"+32", "16px", three, three_copy, "0"}), "", identical(three, three_copy, 3), 0);
  expect(run({"32", "16", empty, empty_copy}), "", identical(empty, empty_copy, 0), 0);
  expect(run({"32", "16", two, three}), "", shorter(two, 2, three), 0);
  expect(run({"32", "16", three, two}), "", shorter(two, 2, three), 0);
  const std::string tail_copy = write_sequence("tail-copy.yuv", 2, 100);
  expect(run({"32", "16", tail, tail_copy}), "", identical(tail, tail_copy, 2), 0);
  // Equal lengths, but the partial frames differ: never "identical".
  expect(run({"32", "16", tail, tail_other}), "",
         "\nFiles \"" + tail + "\" and \"" + tail_other +
             "\" differ in a partial frame after 2 frames!\n\n",
         0);
  expect(run({"32", "16", tail, three}), "", shorter(tail, 2, three), 0);
  // One big frame of 48x32 holds the two small ones: same bytes, other geometry.
  expect(run({"48", "32", two, two}), "", identical(two, two, 0), 0);
}

TEST_F(Cli, MismatchLinesReplaceTheSummary) {
  const std::string ref = write_sequence("ref.yuv", 3);
  // Written out of order; the test file is also a frame longer than the reference.
  const std::string test = write_sequence(
      "test.yuv", 4, 0, {{2 * 768 + 767, 255}, {640, 2}, {520, 1}, {37, 255}, {16, 0}});
  const std::string lines[] = {
      "FRM=   0 COMP=Y POS=(   0,  16) MB=     1  ==>  test=  0 != ref= 80\n",
      "FRM=   0 COMP=Y POS=(   1,   5) MB=     0  ==>  test=255 != ref=185\n",
      "FRM=   0 COMP=U POS=(   0,   8) MB=     1  ==>  test=  1 != ref= 45\n",
      "FRM=   0 COMP=V POS=(   0,   0) MB=     0  ==>  test=  2 != ref=134\n",
      "FRM=   2 COMP=V POS=(   7,  15) MB=     1  ==>  test=255 != ref= 18\n",
  };
  const std::string all = lines[0] + lines[1] + lines[2] + lines[3] + lines[4];
  expect(run({"32", "16", test, ref}), all, "", 0);
  expect(run({"32", "16", test, ref, "0"}), all, "", 0);
  expect(run({"32", "16", test, ref, "-0"}), all, "", 0);
  expect(run({"32", "16", test, ref, "5"}), all, "", 0);
  expect(run({"32", "16", test, ref, "99999999999"}), all, "", 0);
  expect(run({"32", "16", test, ref, "lots"}), all, "", 0);  // no number: 0, no limit
  expect(run({"32", "16", test, ref, "2"}), lines[0] + lines[1], "", 0);
  expect(run({"32", "16", test, ref, "4"}), all.substr(0, 4 * lines[0].size()), "", 0);
}

TEST_F(Cli, ReadErrorIsNeverReportedAsIdenticalOrShorter) {
  const std::string good = write_sequence("good.yuv", 2);
  // Reading this process's own memory at offset 0 fails with an I/O error.
  const std::string mem = "/proc/self/mem";
  expect(run({"32", "16", mem, good}), "", "\nCannot read file \"/proc/self/mem\"!\n\n", 1);
  expect(run({"32", "16", good, mem}), "", "\nCannot read file \"/proc/self/mem\"!\n\n", 1);
  expect(run({"32", "16", mem, "/proc/self/mem"}), "", "\nCannot read file \"/proc/self/mem\"!\n\n",
         1);
}

TEST_F(Cli, UnwritableStandardOutputFailsTheRun) {
  const std::string ref = write_sequence("ref.yuv", 2);
  const std::string test = write_sequence("test.yuv", 2, 0, {{700, 1}});
  const std::string copy = write_sequence("copy.yuv", 2);
  expect(run({"32", "16", test, ref}, "/dev/full"), "", "\nCannot write to standard output!\n\n",
         1);
  // Nothing to write: the summary goes to standard error as usual.
  expect(run({"32", "16", copy, ref}, "/dev/full"), "", identical(copy, ref, 2), 0);
}

// Feeds `bytes` into the FIFO at `fifo` in pieces of odd sizes with pauses, as a decoder
// writing frame by frame would. Gives up if no reader comes within ten seconds. A reader
// that stops early (framecmp has what it needs from a longer file) ends the feed: SIGPIPE
// is blocked in this thread, so the write fails with EPIPE instead of killing the tests.
void feed_fifo(const std::string& fifo, const std::string& bytes) {
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  int fd = -1;
  for (int tries = 0; fd < 0 && tries < 5000; ++tries) {
    fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO until the reader opens it
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (fd < 0) return;
  fcntl(fd, F_SETFL, 0);  // blocking writes from here on
  const std::size_t pieces[] = {1, 100, 333, 767, 1000, 7};
  for (std::size_t at = 0, i = 0; at < bytes.size(); ++i) {
    const std::size_t n = std::min(pieces[i % std::size(pieces)], bytes.size() - at);
    if (write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
    at += n;
    if (i % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  close(fd);
}

TEST_F(Cli, FifoFedInPiecesWorksLikeARegularFile) {
  const std::string ref = write_sequence("ref.yuv", 4);
  const std::string test = write_sequence("test.yuv", 4, 10, {{5, 0}, {3 * 768 + 700, 1}});
  const std::string two = write_sequence("two.yuv", 2);
  const struct {
    std::string feed;  // what goes through the FIFO
    std::string other;
    bool fifo_is_test;
  } cases[] = {{test, ref, true}, {ref, test, false}, {two, ref, true}, {ref, two, false}};
  for (const auto& c : cases) {
    const std::string fifo = path("fifo");
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string through_fifo = read_file(c.feed);
    std::thread writer(feed_fifo, fifo, through_fifo);
    const std::vector<std::string> args = c.fifo_is_test
                                              ? std::vector<std::string>{"32", "16", fifo, c.other}
                                              : std::vector<std::string>{"32", "16", c.other, fifo};
    Result got = run(args);
    writer.join();
    const Result expected =
        run(c.fifo_is_test ? std::vector<std::string>{"32", "16", c.feed, c.other}
                           : std::vector<std::string>{"32", "16", c.other, c.feed});
    // Messages name the paths as typed; put the regular file's name in the FIFO's place.
    for (std::size_t at; (at = got.err.find(fifo)) != std::string::npos;) {
      got.err.replace(at, fifo.size(), c.feed);
    }
    expect(got, expected.out, expected.err, expected.status);
  }
}

TEST_F(Cli, DashReadsStandardInputForOneOfTheTwo) {
  const std::string ref = write_sequence("ref.yuv", 3);
  const std::string test = write_sequence("test.yuv", 3, 0, {{100, 0}});
  const std::string two = write_sequence("two.yuv", 2);
  const std::string line = "FRM=   0 COMP=Y POS=(   3,   4) MB=     0  ==>  test=  0 != ref=245\n";
  RunOptions from_test;
  from_test.stdin_path = test;
  expect(run({"32", "16", "-", ref}, from_test), line, "", 0);
  RunOptions from_ref;
  from_ref.stdin_path = ref;
  expect(run({"32", "16", test, "-"}, from_ref), line, "", 0);
  expect(run({"32", "16", two, "-"}, from_ref), "", shorter(two, 2, "-"), 0);
  expect(run({"32", "16", "-", two}, from_ref), "", shorter(two, 2, "-"), 0);
  expect(run({"32", "16", "-", ref}, from_ref), "", identical("-", ref, 3), 0);
  // Standard input can feed one sequence only: the second "-" cannot be opened.
  expect(run({"32", "16", "-", "-"}, from_ref), "", "\nCannot open file \"-\"!\n\n", 1);
  // A directory on standard input is no sequence either.
  RunOptions from_directory;
  from_directory.stdin_path = dir_;
  expect(run({"32", "16", "-", ref}, from_directory), "", "\nCannot open file \"-\"!\n\n", 1);
}

// A writer that pauses leaves a non-blocking standard input empty for a while (EAGAIN):
// framecmp waits for it rather than calling that a read error.
TEST_F(Cli, DecoderWritingToStandardInputInPieces) {
  const std::string ref = write_sequence("ref.yuv", 5);
  const std::string test = write_sequence("test.yuv", 5, 20, {{4 * 768 + 767, 0}});
  for (const bool nonblocking : {false, true}) {
    SCOPED_TRACE(nonblocking ? "non-blocking" : "blocking");
    const std::string fifo = path("decoder");
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread decoder(feed_fifo, fifo, read_file(test));
    RunOptions options;
    options.stdin_path = fifo;
    options.nonblocking_stdin = nonblocking;
    const Result got = run({"32", "16", "-", ref}, options);
    decoder.join();
    expect(got, "FRM=   4 COMP=V POS=(   7,  15) MB=     1  ==>  test=  0 != ref= 34\n", "", 0);
  }
}

// Once the limit's lines are written nothing more is read: a writer that keeps its pipe
// open after the first frame must not hold the run.
TEST_F(Cli, NothingIsReadAfterTheLimit) {
  const std::string ref = write_sequence("ref.yuv", 3);
  const std::string test = read_file(write_sequence("test.yuv", 1, 0, {{9, 0}}));
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  ASSERT_EQ(write(pipe_fds[1], test.data(), test.size()), static_cast<ssize_t>(test.size()));
  RunOptions options;
  options.stdin_fd = pipe_fds[0];  // the write end stays open in both processes
  const Result got = run({"32", "16", "-", ref, "1"}, options);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  expect(got, "FRM=   0 COMP=Y POS=(   0,   9) MB=     0  ==>  test=  0 != ref= 45\n", "", 0);
}

// A closed standard input must not let "-" read a file that framecmp opened itself.
TEST_F(Cli, ClosedStandardInputIsNoSequence) {
  const std::string two = write_sequence("two.yuv", 2);
  RunOptions options;
  options.close_stdin = true;
  for (const auto& args : {std::vector<std::string>{"32", "16", two, "-"},
                           std::vector<std::string>{"32", "16", "-", two}}) {
    expect(run(args, options), "", "\nCannot open file \"-\"!\n\n", 1);
  }
  expect(run({"32", "16", two, two}, options), "", identical(two, two, 2), 0);
}

TEST_F(Cli, BuffersThatCannotBeObtainedAreReported) {
#if FRAMECMP_SANITIZED
  GTEST_SKIP() << "sanitizers reserve more address space than the limit leaves";
#else
  // Two frames of 2146959360 bytes each cannot fit in 1 GiB of address space.
  RunOptions options;
  options.address_space = rlim_t{1} << 30;
  expect(run({"32768", "43680", "missing", "missing"}, options), "", "\nMemory exceeded!\n\n", 1);
#endif
}

TEST_F(Cli, ClosedStandardOutputFailsTheRunWithMismatches) {
  const std::string ref = write_sequence("ref.yuv", 1);
  const std::string test = write_sequence("test.yuv", 1, 0, {{9, 0}});
  RunOptions options;
  options.close_stdout = true;
  expect(run({"32", "16", test, ref}, options), "", "\nCannot write to standard output!\n\n", 1);
  expect(run({"32", "16", ref, ref}, options), "", identical(ref, ref, 1), 0);
}

TEST_F(Cli, EndlessDifferencesStopOnceOutputIsLost) {
  // Endless inputs that differ everywhere: only a failed write can end this run.
  expect(run({"16", "16", "/dev/zero", "/dev/urandom"}, "/dev/full"), "",
         "\nCannot write to standard output!\n\n", 1);
}

// framecmp ... | head -n 1: once the reader is gone framecmp must end at once, killed by
// SIGPIPE or, where SIGPIPE is ignored, with the write error.
TEST_F(Cli, ReaderThatStopsEarlyEndsTheRun) {
  for (const bool ignore_sigpipe : {false, true}) {
    SCOPED_TRACE(ignore_sigpipe ? "SIGPIPE ignored" : "SIGPIPE default");
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const std::string err_file = path("stderr");
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGPIPE, ignore_sigpipe ? SIG_IGN : SIG_DFL);  // inherited through exec
      dup2(pipe_fds[1], 1);
      close(pipe_fds[0]);
      close(pipe_fds[1]);
      dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      execl(FRAMECMP_BINARY, FRAMECMP_BINARY, "16", "16", "/dev/zero", "/dev/urandom", nullptr);
      _exit(127);
    }
    close(pipe_fds[1]);
    std::string first_line;
    for (char c = 0; c != '\n' && read(pipe_fds[0], &c, 1) == 1;) first_line += c;
    close(pipe_fds[0]);
    const int status = wait_for(pid, std::chrono::seconds(20));
    EXPECT_EQ(first_line.substr(0, 15), "FRM=   0 COMP=Y");
    if (ignore_sigpipe) {
      EXPECT_EQ(status, 1);
      EXPECT_EQ(read_file(err_file), "\nCannot write to standard output!\n\n");
    } else {
      EXPECT_EQ(status, 128 + SIGPIPE);
      EXPECT_EQ(read_file(err_file), "");
    }
  }
}

TEST_F(Cli, SequencesBeyond4GiBAreReadToTheEnd) {
  // A sparse test file of 1372 frames of 1920x1088, 4299079680 bytes (past 2^32), against
  // an endless reference of zeros: every frame is read, and the one sample set in the last
  // frame is reported with its frame index.
  constexpr std::int64_t kFrameSize = 1920 * 1088 * 3 / 2;
  constexpr std::int64_t kFrames = 1372;
  const std::string test = path("big.yuv");
  const int fd = open(test.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, kFrames * kFrameSize), 0);
  // Last sample of the last frame: V plane, row 543, column 959.
  ASSERT_EQ(pwrite(fd, "\x2a", 1, kFrames * kFrameSize - 1), 1);
  close(fd);
  expect(run({"1920", "1088", test, "/dev/zero"}),
         "FRM=1371 COMP=V POS=( 543, 959) MB=  8159  ==>  test= 42 != ref=  0\n", "", 0);
}

// --- The modern form: every case as data, files named by @placeholders -----------------

// yuv420p frame of 6x4 (36 bytes): Y 24, U 6, V 6; and the same picture as nv12.
std::string yuv_to_nv12(const std::string& planar, const std::size_t width = 6,
                        const std::size_t height = 4) {
  const std::size_t luma = width * height;
  const std::size_t chroma = luma / 4;
  std::string nv12 = planar.substr(0, luma);
  for (std::size_t i = 0; i < chroma; ++i) {
    nv12 += planar[luma + i];
    nv12 += planar[luma + chroma + i];
  }
  return nv12;
}

// The modern form's cases are data: tests/e2e/cases/modern-*.case.
TEST_F(Cli, HelpGoesToStandardOutput) {
  const Result help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("--pix-fmt=NAME"), std::string::npos);
}

std::string write_bytes(const std::string& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

// Frame hashes against RFC 1321's test vectors: eight 10-byte gray frames "1234567890",
// whose bytes together are the suite's 80-digit string; and hash lists as suites ship
// them (libvpx's per-frame .md5, md5sum's whole-stream line, framecmp's own output).
TEST_F(Cli, FrameHashesAgainstTestVectorsAndLists) {
  std::string digits;
  for (int i = 0; i < 8; ++i) digits += "1234567890";
  const std::string test = write_bytes(path("t.yuv"), digits);
  const std::string one = "e807f1fcf82d132f9bb018ca6738a19f";  // MD5("1234567890")
  const std::string all = "57edf4a22be3c955ac49da2e2107b67a";  // MD5 of the 80 digits
  std::string listing;
  for (int i = 0; i < 8; ++i) listing += one + "  " + std::to_string(i) + "\n";
  expect(run({"--report=md5", "--pix-fmt=gray", "--size=10x1", test}), listing + all + "  all\n",
         "", 0);
  // Its own output is a per-frame list: the "all" line names no frame.
  const std::string own = write_bytes(path("own.md5"), listing + all + "  all\n");
  expect(run({"--ref-md5=" + own, "--exit-code", "--pix-fmt=gray", "--size=10x1", test}), "",
         "\nFiles \"" + test + "\" and \"" + own + "\" are identical (8 frames)!\n\n", 0);
  // libvpx's format, frame 3 wrong, one frame short.
  std::string vpx;
  for (int i = 1; i <= 7; ++i) {
    vpx += (i == 4 ? std::string(32, 'A') : one) + "  vp90-2-00-quantizer-00.webm-352x288-000" +
           std::to_string(i) + ".i420\n";
  }
  const std::string vpx_list = write_bytes(path("vpx.md5"), vpx);
  expect(run({"--ref-md5", vpx_list, "--exit-code", "--pix-fmt=gray", "10", "1", test}),
         "FRM=   3 MD5 test=" + one + " != ref=" + std::string(32, 'a') + "\n",
         "\nFiles \"" + test + "\" and \"" + vpx_list +
             "\" differ: 1 of 7 frames, the first in frame 3.\nFile \"" + vpx_list +
             "\" ended first, after 7 frames.\n\n",
         1);
  const std::string whole = write_bytes(path("whole.md5"), all + "  t.yuv\n");
  expect(run({"--ref-md5=" + whole, "--pix-fmt=gray", "--size=10x1", test}),
         "MD5 test=" + all + " == ref=" + all + "\n",
         "\nFiles \"" + test + "\" and \"" + whole + "\" are identical (8 frames)!\n\n", 0);
  // A whole-stream hash cannot be cut short.
  expect(run({"--ref-md5=" + whole, "--exit-code", "--frames=7", "--pix-fmt=gray", "--size=10x1",
              test}),
         "", "\nOption \"--frames\" cannot cut a whole-stream MD5!\n\n", 2);
  // A partial last frame is more than the list holds: the list is the shorter, and the
  // partial frame is named once, after the summary.
  const std::string tail = write_bytes(path("tail.yuv"), digits + "123");
  expect(run({"--ref-md5=" + own, "--pix-fmt=gray", "--size=10x1", tail}), "",
         "\nFile \"" + own + "\" is shorter (8 frames) than file \"" + tail + "\"!\n\n" +
             "\nFile \"" + tail +
             "\" ends in a partial frame of 3 bytes (a frame is 10 bytes): are the size and the "
             "pixel format right?\n\n",
         0);
  const std::string bad = write_bytes(path("bad.md5"), one + "\n\n" + one.substr(1) + "\n");
  expect(run({"--ref-md5=" + bad, "--exit-code", "--pix-fmt=gray", "--size=10x1", test}), "",
         "\nFile \"" + bad +
             "\" is no MD5 list: line 3 does not start with an MD5 of 32 hexadecimal digits!\n\n",
         2);
  expect(run({"--report=md5", "--size=10x1", test, test}), "",
         "\nExpected TEST or WIDTH HEIGHT TEST after the options with --report=md5, not 2 "
         "arguments!\n\n",
         1);
}

// The JSON document, parsed back: every key, the statistics, the verdict, and a path that
// is not UTF-8 (its stray byte becomes U+FFFD).
// --diff-frame draws the frame asked for, even an equal one; the picture is a PNG of the
// panels' size.
// Hash lists against files that end in partial frames, lists of other line endings and
// lists that can be no list, each a row: arguments, expected output, errors and status.
// The hash lists' cases are data (tests/e2e/cases/hashes-*.case); with standard output
// closed they stay here.
TEST_F(Cli, HashListsWithStandardOutputClosed) {
  std::string digits;
  for (int i = 0; i < 3; ++i) digits += "1234567890";
  write_bytes(path("t"), digits);
  const std::string one = "e807f1fcf82d132f9bb018ca6738a19f";    // MD5("1234567890")
  const std::string three = "a46857f0ecc21f0a06ea434b94d9cf1d";  // MD5 of the 30 digits
  write_bytes(path("frames"), one + "  0\n" + one + "  1\n" + one + "  2\n");
  write_bytes(path("whole"), three + "  t\n");
  const std::string gray = "--pix-fmt=gray";
  // A list that writes nothing still gives its verdict; one that must write cannot.
  RunOptions closed;
  closed.close_stdout = true;
  expect_case({"--ref-md5=@frames", gray, "--size=10x1", "@t"}, "",
              "\nFiles \"@t\" and \"@frames\" are identical (3 frames)!\n\n", 0, closed);
  expect_case({"--ref-md5=@whole", gray, "--size=10x1", "@t"}, "",
              "\nCannot write to standard output!\n\n", 1, closed);
}

TEST_F(Cli, DiffImageOfTheFrameAskedFor) {
  // Frame 0 differs at Y (2, 5), frame 1 is equal.
  std::string ref_bytes(2 * 243, '\x10');
  std::string test_bytes = ref_bytes;
  test_bytes[2 * 17 + 5] = '\x50';
  const std::string test = write_bytes(path("t.yuv"), test_bytes);
  const std::string ref = write_bytes(path("r.yuv"), ref_bytes);
  const std::string image = path("d.png");
  const std::array<int, 3> grey = {6, 6, 6};  // 16 at 40%, inside a block
  for (const int frame : {0, 1}) {
    const Result got = run({"--diff-image=" + image, "--diff-frame=" + std::to_string(frame),
                            "--size=17x9", test, ref});
    EXPECT_EQ(got.status, 0);
    const framecmp::Png png = framecmp::read_png(image);
    ASSERT_EQ(png.width, 22u);                  // 9 + 4 + 9 samples wide
    ASSERT_EQ(png.height, 9u + 9 + 4 + 9 + 5);  // Y panel, then U and V under their labels
    // The Y panel starts under its label strip; (2, 5) is red where the frame differs, at
    // the strength of a difference of 64: 80 + 175 * 64 / 255, rounded up.
    EXPECT_EQ(png.at(5, 9 + 2), frame == 0 ? (std::array<int, 3>{124, 0, 0}) : grey) << frame;
    EXPECT_EQ(png.at(6, 9 + 2), grey) << frame;
  }
}

TEST_F(Cli, JsonReportHoldsEveryKey) {
  std::string two(486, '\0');
  two[485] = 5;  // frame 1, last V sample
  const std::string test = write_bytes(path("t\xff.yuv"), two);
  const std::string ref = write_bytes(path("r.yuv"), std::string(486, '\0'));
  const Result frames = run({"--json", "--report=frames", "--size=17x9", test, ref});
  EXPECT_EQ(frames.status, 0);
  const nlohmann::json doc = nlohmann::json::parse(frames.out);
  const std::string keys[] = {"test",         "ref",
                              "width",        "height",
                              "pix_fmt",      "bit_depth",
                              "block",        "tolerance",
                              "skip_test",    "skip_ref",
                              "frames_limit", "verdict",
                              "ending",       "frames_compared",
                              "planes",       "first_difference",
                              "frames"};
  for (const std::string& key : keys) EXPECT_TRUE(doc.contains(key)) << key;
  EXPECT_EQ(doc["test"], path("t\xef\xbf\xbd.yuv"));
  EXPECT_EQ(doc["pix_fmt"], "yuv420p");
  EXPECT_EQ(doc["bit_depth"], 8);
  EXPECT_TRUE(doc["frames_limit"].is_null());
  EXPECT_EQ(doc["verdict"], "differ");
  EXPECT_EQ(doc["ending"], "together");
  EXPECT_EQ(doc["frames_compared"], 2);
  // Whole plane objects, so that no key can be renamed or dropped unnoticed.
  const auto plane = [](const char* letter, int differing, int max, int sse, nlohmann::json psnr) {
    return nlohmann::json({{"plane", letter},
                           {"differing", differing},
                           {"max_abs_diff", max},
                           {"sse", sse},
                           {"psnr", psnr}});
  };
  const double psnr_v = 10.0 * std::log10(255.0 * 255.0 * 90.0 / 25.0);
  EXPECT_EQ(doc["planes"],
            nlohmann::json({plane("Y", 0, 0, 0, nullptr), plane("U", 0, 0, 0, nullptr),
                            plane("V", 1, 5, 25, psnr_v)}));
  EXPECT_EQ(doc["frames"][0]["planes"][2], plane("V", 0, 0, 0, nullptr));
  EXPECT_EQ(doc["first_difference"], nlohmann::json({{"frame", 1},
                                                     {"plane", "V"},
                                                     {"row", 4},
                                                     {"column", 8},
                                                     {"block", 1},
                                                     {"test", 5},
                                                     {"ref", 0}}));
  ASSERT_EQ(doc["frames"].size(), 2u);
  EXPECT_EQ(doc["frames"][1]["frame"], 1);
  EXPECT_EQ(doc["frames"][1]["planes"][2],
            plane("V", 1, 5, 25, 10.0 * std::log10(255.0 * 255.0 * 45.0 / 25.0)));

  const struct {
    std::vector<std::string> options;
    const char* verdict;
    const char* ending;
  } summaries[] = {{{"--tolerance=5"}, "match_within_tolerance", "together"},
                   {{"--frames=1"}, "identical", "frames_limit"},
                   {{"--skip-ref=1"}, "shorter", "ref_shorter"}};
  for (const auto& c : summaries) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--json", "--report=summary", "--size=17x9", test, ref});
    const nlohmann::json summary = nlohmann::json::parse(run(args).out);
    EXPECT_EQ(summary["verdict"], c.verdict) << c.options[0];
    EXPECT_EQ(summary["ending"], c.ending) << c.options[0];
    EXPECT_FALSE(summary.contains("frames"));
  }
  // A truncated decode never passes a JSON consumer: 6 of 30 frames is "shorter", status 1.
  const std::string thirty = write_bytes(path("30.yuv"), std::string(30 * 243, '\0'));
  const std::string six = write_bytes(path("6.yuv"), std::string(6 * 243, '\0'));
  const Result truncated =
      run({"--json", "--exit-code", "--report=summary", "--size=17x9", six, thirty});
  EXPECT_EQ(truncated.status, 1);
  EXPECT_EQ(nlohmann::json::parse(truncated.out)["verdict"], "shorter");
  // Errors stay text on standard error, with nothing on standard output.
  expect(run({"--json", "--report=summary", "--size=17x9", "/proc/self/mem", ref}), "",
         "\nCannot read file \"/proc/self/mem\"!\n\n", 1);
}

// Every key path of a JSON document ("/a/b", "[]" for an array's elements), sorted.
std::vector<std::string> key_paths(const nlohmann::json& value, const std::string& at = "") {
  std::vector<std::string> paths;
  if (value.is_object()) {
    for (const auto& [key, member] : value.items()) {
      for (std::string& p : key_paths(member, at + "/" + key)) paths.push_back(std::move(p));
    }
  } else if (value.is_array()) {
    for (const auto& element : value) {
      for (std::string& p : key_paths(element, at + "[]")) paths.push_back(std::move(p));
    }
  } else {
    paths.push_back(at);
  }
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  return paths;
}

// The documents' whole key sets, so that no key is renamed, dropped or added unnoticed;
// and the format of files that name their own layouts.
TEST_F(Cli, JsonKeySetsAreWhole) {
  const std::vector<std::string> head = {"/bit_depth",
                                         "/block",
                                         "/ending",
                                         "/first_difference/block",
                                         "/first_difference/column",
                                         "/first_difference/frame",
                                         "/first_difference/plane",
                                         "/first_difference/ref",
                                         "/first_difference/row",
                                         "/first_difference/test",
                                         "/frames_compared",
                                         "/frames_limit",
                                         "/height",
                                         "/pix_fmt",
                                         "/ref",
                                         "/skip_ref",
                                         "/skip_test",
                                         "/test",
                                         "/tolerance",
                                         "/verdict",
                                         "/width"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.end(), head.begin(), head.end());
    std::sort(more.begin(), more.end());
    return more;
  };
  const std::vector<std::string> frames = with({"/frames[]/frame",
                                                "/frames[]/planes[]/differing",
                                                "/frames[]/planes[]/max_abs_diff",
                                                "/frames[]/planes[]/plane",
                                                "/frames[]/planes[]/psnr",
                                                "/frames[]/planes[]/sse",
                                                "/frames[]/planes[]/ssim",
                                                "/frames[]/psnr_all",
                                                "/frames[]/ssim_all",
                                                "/frames[]/ssim_db",
                                                "/planes[]/differing",
                                                "/planes[]/max_abs_diff",
                                                "/planes[]/plane",
                                                "/planes[]/psnr",
                                                "/planes[]/psnr_mean",
                                                "/planes[]/sse",
                                                "/planes[]/ssim",
                                                "/psnr_611",
                                                "/psnr_all",
                                                "/psnr_all_mean",
                                                "/psnr_max/frame",
                                                "/psnr_max/psnr",
                                                "/psnr_min/frame",
                                                "/psnr_min/psnr",
                                                "/ssim_all",
                                                "/ssim_db"});
  const std::vector<std::string> blocks = with(
      {"/damaged_blocks", "/differing", "/frames[]/blocks[]/block", "/frames[]/blocks[]/column",
       "/frames[]/blocks[]/first/column", "/frames[]/blocks[]/first/plane",
       "/frames[]/blocks[]/first/row", "/frames[]/blocks[]/max_abs_diff", "/frames[]/blocks[]/row",
       "/frames[]/blocks[]/u", "/frames[]/blocks[]/v", "/frames[]/blocks[]/y", "/frames[]/frame"});
  std::string ref_bytes(2 * 384, '\x40');
  std::string test_bytes = ref_bytes;
  test_bytes[700] = 9;
  write_bytes(path("t"), test_bytes);
  write_bytes(path("r"), ref_bytes);
  const nlohmann::json frames_doc =
      nlohmann::json::parse(run({"--report=frames", "--json", "--ssim", "--psnr-pooling",
                                 "--size=16x16", path("t"), path("r")})
                                .out);
  EXPECT_EQ(key_paths(frames_doc), frames);
  const nlohmann::json blocks_doc = nlohmann::json::parse(
      run({"--report=blocks", "--json", "--size=16x16", path("t"), path("r")}).out);
  EXPECT_EQ(key_paths(blocks_doc), blocks);
  // p010le 4x2 against yuv420p10le: Y(0,0) holds 310 in the high bits against 296. The
  // compared format is named, the test's own beside it, and samples are values.
  std::string p010(24, '\0');
  std::string planar(24, '\0');
  p010[0] = static_cast<char>((310 << 6) & 0xFF);
  p010[1] = static_cast<char>((310 << 6) >> 8);
  planar[0] = static_cast<char>(296 & 0xFF);
  planar[1] = static_cast<char>(296 >> 8);
  write_bytes(path("p010"), p010);
  write_bytes(path("planar"), planar);
  for (const char* report : {"--report=blocks", "--report=summary"}) {
    const nlohmann::json mixed = nlohmann::json::parse(
        run({report, "--json", "--test-pix-fmt=p010le", "--ref-pix-fmt=yuv420p10le", "--size=4x2",
             path("p010"), path("planar")})
            .out);
    EXPECT_EQ(mixed["pix_fmt"], "yuv420p10le") << report;
    EXPECT_EQ(mixed["bit_depth"], 10);
    EXPECT_EQ(mixed["test_pix_fmt"], "p010le");
    EXPECT_FALSE(mixed.contains("ref_pix_fmt"));
    EXPECT_EQ(mixed["first_difference"]["test"], 310);
    EXPECT_EQ(mixed["first_difference"]["ref"], 296);
  }
}

// Skipping reads and drops frames where no seek can pass them: a FIFO gives what the same
// bytes in a regular file give.
TEST_F(Cli, SkippingOnAPipeReadsAndDrops) {
  std::string two(486, '\0');
  two[485] = 5;
  const std::string test = write_bytes(path("t.yuv"), two);
  const std::string ref = write_bytes(path("r.yuv"), std::string(486, '\0'));
  const std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const char* skip : {"--skip=1", "--skip-test=1", "--skip=3"}) {
    std::thread writer(feed_fifo, fifo, two);
    Result got = run({skip, "--size=17x9", fifo, ref});
    writer.join();
    const Result expected = run({skip, "--size=17x9", test, ref});
    for (std::size_t at; (at = got.err.find(fifo)) != std::string::npos;) {
      got.err.replace(at, fifo.size(), test);
    }
    expect(got, expected.out, expected.err, expected.status);
  }
}

// A YUV4MPEG2 stream of `frames` (each `frame_size` bytes of `raw`), the second frame's
// marker with a parameter.
std::string y4m_stream(const std::string& header, const std::string& raw, std::size_t frame_size) {
  std::string stream = header + "\n";
  for (std::size_t at = 0, i = 0; at < raw.size(); at += frame_size, ++i) {
    stream += i == 1 ? "FRAME Ixyz\n" : "FRAME\n";
    stream += raw.substr(at, frame_size);
  }
  return stream;
}

// Y4M pairs, Y4M beside raw, from standard input and from a FIFO in pieces: the same
// standard output, standard error (paths aside) and status as the raw files, for every C.
TEST_F(Cli, Y4mReportsLikeTheRawEquivalent) {
  const struct {
    const char* tag;  // "" for no C
    const char* format;
    std::size_t frame_size;  // of 6x4
  } spaces[] = {{"", "yuv420p", 36},
                {" C420jpeg", "yuv420p", 36},
                {" C420paldv", "yuv420p", 36},
                {" C420mpeg2", "yuv420p", 36},
                {" C420", "yuv420p", 36},
                {" C422", "yuv422p", 48},
                {" C444", "yuv444p", 72},
                {" Cmono", "gray", 24},
                {" C420p10", "yuv420p10le", 72},
                {" C422p12", "yuv422p12le", 96},
                {" C444p16", "yuv444p16le", 144},
                {" Cmono10", "gray10le", 48},
                {" Cmono16", "gray16le", 48}};
  for (const auto& space : spaces) {
    SCOPED_TRACE(space.format + std::string(space.tag));
    std::string ref(3 * space.frame_size, '\0');
    for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<char>(i * 7 % 251);
    std::string test = ref;
    for (const std::size_t at : {std::size_t{1}, space.frame_size + 5, ref.size() - 1}) {
      test[at] = static_cast<char>(test[at] ^ 0x21);
    }
    test += std::string(space.frame_size / 2, '\x05');  // a partial frame: "is shorter"
    const std::string header = "YUV4MPEG2 W6 H4 F25:1 Ip A0:0" + std::string(space.tag);
    const std::string raw_test = write_bytes(path("t.raw"), test);
    const std::string raw_ref = write_bytes(path("r.raw"), ref);
    const std::string y4m_test =
        write_bytes(path("t.y4m"), y4m_stream(header, test, space.frame_size));
    const std::string y4m_ref =
        write_bytes(path("r.y4m"), y4m_stream(header, ref, space.frame_size));
    const std::string pix_fmt = std::string("--pix-fmt=") + space.format;
    const Result raw = run({pix_fmt, "--size=6x4", raw_test, raw_ref});
    const Result raw_frames = run({"--report=frames", pix_fmt, "--size=6x4", raw_test, raw_ref});
    const auto same_as_raw = [&](Result got, const Result& expected, const std::string& test_path,
                                 const std::string& ref_path) {
      // Each path as typed in the messages becomes the raw file's, left to right.
      for (const auto& [from, to] :
           {std::pair{test_path, raw_test}, std::pair{ref_path, raw_ref}}) {
        const std::string quoted = "\"" + from + "\"";
        for (std::size_t at = 0; (at = got.err.find(quoted, at)) != std::string::npos;) {
          got.err.replace(at, quoted.size(), "\"" + to + "\"");
          at += to.size() + 2;
        }
      }
      expect(got, expected.out, expected.err, expected.status);
    };
    same_as_raw(run({"--", y4m_test, y4m_ref}), raw, y4m_test, y4m_ref);
    same_as_raw(run({"--", raw_test, y4m_ref}), raw, raw_test, y4m_ref);
    same_as_raw(run({"--report=frames", "--", y4m_test, raw_ref}), raw_frames, y4m_test, raw_ref);
    RunOptions from_stdin;
    from_stdin.stdin_path = y4m_test;
    same_as_raw(run({pix_fmt, "--", "-", y4m_ref}, from_stdin), raw, "-", y4m_ref);
  }
  EXPECT_NE(run({"--size=6x4", path("t.raw"), path("r.raw")}).out, "");
}

TEST_F(Cli, Y4mFromAFifoInPieces) {
  std::string ref(72, '\0');
  for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<char>(i);
  std::string test = ref;
  test[40] = 0;
  const std::string stream = y4m_stream("YUV4MPEG2 W6 H4", test, 36);
  const std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer(feed_fifo, fifo, stream);
  const Result got = run({"--", fifo, write_bytes(path("r.yuv"), ref)});
  writer.join();
  EXPECT_EQ(got.out, "FRM=   1 COMP=Y POS=(   0,   4) MB=     0  ==>  test=  0 != ref= 40\n");
}

// Damaged or disagreeing headers and markers are refused with one message naming the file.
TEST_F(Cli, Y4mRefusals) {
  const std::string frame(36, '\x10');
  const std::string good =
      write_bytes(path("good.y4m"), y4m_stream("YUV4MPEG2 W6 H4", frame + frame, 36));
  const std::string wide = write_bytes(path("wide.y4m"), y4m_stream("YUV4MPEG2 W8 H4", frame, 48));
  const std::string deep = write_bytes(path("deep.y4m"), "YUV4MPEG2 W6 H4 C420p10\n");
  const std::string no_height = write_bytes(path("noh.y4m"), "YUV4MPEG2 W6 C420\nFRAME\n");
  const std::string odd_c = write_bytes(path("c.y4m"), "YUV4MPEG2 W6 H4 C411\n");
  const std::string endless =
      write_bytes(path("long.y4m"), "YUV4MPEG2 W6 H4 " + std::string(5000, 'X'));
  const std::string bad_marker =
      write_bytes(path("marker.y4m"), "YUV4MPEG2 W6 H4\nFRAME\n" + frame + "FRAMX\n" + frame);
  const std::string cut = write_bytes(
      path("cut.y4m"), "YUV4MPEG2 W6 H4\nFRAME\n" + frame + "FRAME\n" + frame.substr(0, 9));
  // good.y4m's frames padded to 6x8: each plane's lower half is other bytes.
  const std::string half(24, '\x10');
  const std::string padded = half + std::string(24, '\x77') + std::string(6, '\x10') +
                             std::string(6, '\x66') + std::string(6, '\x10') +
                             std::string(6, '\x55');
  const std::string tall =
      write_bytes(path("tall.y4m"), y4m_stream("YUV4MPEG2 W6 H8", padded + padded, 72));
  const std::string raw = write_bytes(path("raw.yuv"), frame + frame);
  const struct {
    std::vector<std::string> args;
    std::string out, err;
    int status;
  } cases[] = {
      {{"--", no_height, good},
       "",
       "\nFile \"" + no_height + "\" is not a valid YUV4MPEG2 stream: no height (H)!\n\n",
       1},
      {{"--exit-code", "--", good, odd_c},
       "",
       "\nFile \"" + odd_c +
           "\" is not a valid YUV4MPEG2 stream: an unknown colour space (C411)!\n\n",
       2},
      {{"--", endless, good},
       "",
       "\nFile \"" + endless +
           "\" is not a valid YUV4MPEG2 stream: a header line without a newline within 4096 "
           "bytes!\n\n",
       1},
      {{"--", good, wide},
       "",
       "\nFiles \"" + good + "\" (6x4 yuv420p) and \"" + wide +
           "\" (8x4 yuv420p) differ in frame size or pixel format!\n\n",
       1},
      {{"--", good, deep},
       "",
       "\nFiles \"" + good + "\" (6x4 yuv420p) and \"" + deep +
           "\" (6x4 yuv420p10le) differ in frame size or pixel format!\n\n",
       1},
      {{"--size=6x5", good, good},
       "",
       "\nThe size 6x5 given differs from 6x4 in the header of \"" + good + "\"!\n\n",
       1},
      {{"--pix-fmt=nv12", good, good},
       "",
       "\nThe pixel format nv12 given differs from yuv420p in the header of \"" + good + "\"!\n\n",
       1},
      {{"--test-pix-fmt=nv12", good, good},
       "",
       "\nThe pixel format nv12 given differs from yuv420p in the header of \"" + good + "\"!\n\n",
       1},
      {{"--ref-pix-fmt=yuv420p10le", good, good},
       "",
       "\nThe pixel format yuv420p10le given differs from yuv420p in the header of \"" + good +
           "\"!\n\n",
       1},
      // A padded YUV4MPEG2 test: its header gives its own size, the reference the compared one.
      {{"--test-size=6x8", tall, good},
       "",
       "\nFiles \"" + tall + "\" and \"" + good + "\" are identical (2 frames)!\n\n",
       0},
      {{"--test-size=6x8", "--size=6x4", tall, raw},
       "",
       "\nFiles \"" + tall + "\" and \"" + raw + "\" are identical (2 frames)!\n\n",
       0},
      {{"--test-size=6x6", tall, good},
       "",
       "\nThe size 6x6 given differs from 6x8 in the header of \"" + tall + "\"!\n\n",
       1},
      {{"--size=6x4", "--pix-fmt=yuvj420p", good, good},
       "",
       "\nFiles \"" + good + "\" and \"" + good + "\" are identical (2 frames)!\n\n",
       0},
      {{"--", bad_marker, good},
       "",
       "\nFile \"" + bad_marker +
           "\" is not a valid YUV4MPEG2 stream: frame 1 does not start with FRAME!\n\n",
       1},
      {{"--", cut, good},
       "",
       "\nFile \"" + cut + "\" is shorter (1 frames) than file \"" + good +
           "\"!\n\n"
           "\nFile \"" +
           cut +
           "\" ends in a partial frame of 9 bytes (a frame is 36 bytes): are the size and the "
           "pixel format right?\n\n",
       0},
  };
  for (const auto& c : cases) expect(run(c.args), c.out, c.err, c.status);
}

const std::string kHeading6x4 =
    "frame   Y differing   max    PSNR   U differing   max    PSNR   V differing   max    PSNR\n";
const std::string kZeroTotals =
    "total             0     0     inf             0     0     inf             0     0     inf\n";

// Hostile and damaged inputs: truncated streams, limits, escapes, hints; every case as data.
// Damaged and odd inputs are data: tests/e2e/cases/damaged-*.case.

// A lost standard output ends every report: at the first failed write, or before anything
// is read when standard output is closed from the start (the inputs here never end).
TEST_F(Cli, LostOutputEndsEveryReport) {
  const std::string lost = "\nCannot write to standard output!\n\n";
  RunOptions full;
  full.stdout_path = "/dev/full";
  RunOptions closed;
  closed.close_stdout = true;
  const std::vector<std::string> endless = {"--size=16x16", "/dev/zero", "/dev/zero"};
  for (const RunOptions* options : {&full, &closed}) {
    for (const std::vector<std::string>& report : {std::vector<std::string>{"--report=frames"},
                                                   {"--report=summary"},
                                                   {"--json", "--report=frames"},
                                                   {"--json", "--report=summary", "--exit-code"}}) {
      std::vector<std::string> args = report;
      args.insert(args.end(), endless.begin(), endless.end());
      const bool summary =
          std::find(report.begin(), report.end(), "--report=summary") != report.end();
      if (options == &full && summary) continue;  // writes only at the end, which never comes
      expect_case(args, "", lost, report.back() == "--exit-code" ? 2 : 1, *options);
    }
  }
}

// Standard input is read from where it stands, and on a live pipe of tiny raw frames the
// run decides at once that it is no YUV4MPEG2 stream.
TEST_F(Cli, StandardInputFromWhereItStands) {
  const std::string two = write_bytes(path("two.yuv"), std::string(768, '\x10'));
  RunOptions at_second_frame;
  at_second_frame.stdin_fd = open(two.c_str(), O_RDONLY);
  ASSERT_EQ(lseek(at_second_frame.stdin_fd, 384, SEEK_SET), 384);
  expect(run({"--size=16x16", "-", two}, at_second_frame), "", shorter("-", 1, two), 0);
  close(at_second_frame.stdin_fd);

  const std::string one_byte = write_bytes(path("one.yuv"), "Z");
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  ASSERT_EQ(write(pipe_fds[1], "Z", 1), 1);
  RunOptions live;
  live.stdin_fd = pipe_fds[0];  // the write end stays open: no more bytes, no end
  for (const char* limit : {"--frames=1", "--"}) {
    const std::vector<std::string> args =
        std::string(limit) == "--"
            ? std::vector<std::string>{"--pix-fmt=gray", "--size=1x1", "-", one_byte, "1"}
            : std::vector<std::string>{limit, "--pix-fmt=gray", "--size=1x1", "-", one_byte};
    if (std::string(limit) == "--") {
      ASSERT_EQ(write(pipe_fds[1], "X", 1), 1);  // a differing sample for MAX_COUNT
    }
    const Result got = run(args, live);
    EXPECT_EQ(got.status, 0) << limit << got.err;
  }
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

// The picture goes where its path leads without destroying anything: a link stays a link
// and its target is replaced; a path that is no regular file is written into.
TEST_F(Cli, DiffImageFollowsLinksAndWritesIntoNonFiles) {
  const std::string zero = write_bytes(path("zero.yuv"), std::string(243, '\0'));
  const std::string t17 = write_bytes(path("t17.yuv"), std::string(242, '\0') + "\x05");
  const std::string target = write_bytes(path("target.png"), "old");
  ASSERT_EQ(symlink(target.c_str(), path("link.png").c_str()), 0);
  ASSERT_EQ(symlink(zero.c_str(), path("input-link.png").c_str()), 0);
  const std::string differ_err =
      "\nFiles \"" + t17 + "\" and \"" + zero +
      "\" differ: 1 sample in 1 of 1 frame, the first in frame 0, plane V at (4, 8), block 1.\n\n";
  for (const char* image : {"link.png", "/dev/null"}) {
    const std::string where = image[0] == '/' ? image : path(image);
    const Result got = run({"--report=summary", "--diff-image=" + where, "--size=17x9", t17, zero});
    EXPECT_EQ(got.err, differ_err) << image;
  }
  struct stat status {};
  ASSERT_EQ(lstat(path("link.png").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(read_file(target).substr(1, 3), "PNG");
  ASSERT_EQ(stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  // A link to an input is that input; so is the standard input's file.
  expect(
      run({"--diff-image=" + path("input-link.png"), "--size=17x9", t17, zero}), "",
      "\nOption \"--diff-image\" names an input file: \"" + zero + "\" would be overwritten!\n\n",
      1);
  RunOptions from_stdin;
  from_stdin.stdin_path = t17;
  expect(run({"--diff-image=" + t17, "--size=17x9", "-", zero}, from_stdin), "",
         "\nOption \"--diff-image\" names an input file: \"-\" would be overwritten!\n\n", 1);
  // libpng's limits and messages: a picture a million columns wide is written, and a full
  // disk is the tool's own message.
  const std::string wide = path("wide.png");
  const std::vector<std::string> wide_run = {"--pix-fmt=gray", "--size=1000001x1", "--frames=1",
                                             "--diff-frame=0", "/dev/zero",        "/dev/zero"};
  std::vector<std::string> args = {"--diff-image=" + wide};
  args.insert(args.end(), wide_run.begin(), wide_run.end());
  expect(run(args), "", identical("/dev/zero", "/dev/zero", 1), 0);
  EXPECT_EQ(read_file(wide).substr(1, 3), "PNG");
  args[0] = "--diff-image=/dev/full";
  expect(run(args), "",
         identical("/dev/zero", "/dev/zero", 1) + "\nCannot write image \"/dev/full\"!\n\n", 1);
}

// Outputs named twice, through dangling links, over files of other modes and owners, and
// over files the process may not write.
TEST_F(Cli, OutputsKeepLinksModesAndOwners) {
  write_bytes(path("zero"), std::string(243, '\0'));
  write_bytes(path("t17"), std::string(242, '\0') + "\x05");
  ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(path("x.png").c_str(), path("to-x").c_str()), 0);
  const std::string same =
      "\nOptions \"--stats-file\" and \"--diff-image\" name the same file!\n\n";
  const std::string differ =
      "\nFiles \"@t17\" and \"@zero\" differ: 1 sample in 1 of 1 frame, the first in frame 0, "
      "plane V at (4, 8), block 1.\n\n";
  const std::string table =
      "frame   Y differing   max    PSNR   U differing   max    PSNR   V differing   max    PSNR\n"
      "total             0     0     inf             0     0     inf             1     5   50.68\n";
  const struct {
    std::string stats, image, out, err;
    int status;
  } cases[] = {
      {"@x.png", "@sub/../x.png", "", same, 1},
      {"@to-x", "@x.png", "", same, 1},
      {"@sub/../sub/y", "@sub/y", "", same, 1},
      {"@s.json", "@x.png", table, differ, 0},
  };
  for (const auto& c : cases) {
    expect_case({"--report=summary", "--stats-file=" + c.stats, "--diff-image=" + c.image,
                 "--size=17x9", "@t17", "@zero"},
                c.out, c.err, c.status);
  }
  // A dangling link is written through: its target is made and the link stays.
  ASSERT_EQ(symlink(path("made.json").c_str(), path("dangling").c_str()), 0);
  const std::vector<std::string> stats_run = {"--report=summary", "--size=17x9", "@t17", "@zero"};
  std::vector<std::string> args = stats_run;
  args.insert(args.begin(), "--stats-file=@dangling");
  expect_case(args, table, differ, 0);
  struct stat status {};
  ASSERT_EQ(lstat(path("dangling").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(read_file(path("made.json")).substr(0, 1), "{");
  // A replaced file keeps its mode bits, and its owner where the process may give it.
  write_bytes(path("private.json"), "old");
  ASSERT_EQ(chmod(path("private.json").c_str(), 0640), 0);
  const bool root = getuid() == 0;
  const uid_t nobody = 65534;
  if (root) {
    ASSERT_EQ(chown(path("private.json").c_str(), nobody, nobody), 0);
  }
  args[0] = "--stats-file=@private.json";
  expect_case(args, table, differ, 0);
  ASSERT_EQ(stat(path("private.json").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(status.st_uid, nobody);
  }
  EXPECT_EQ(read_file(path("private.json")).substr(0, 1), "{");
  // A file the process may not write is not replaced, though its folder would allow it.
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  write_bytes(path("ro.json"), "old");
  ASSERT_EQ(chmod(path("ro.json").c_str(), 0444), 0);
  RunOptions user;
  if (root) {
    // Another user may not reach the built binary (a checkout under /root): a copy here.
    user.user = nobody;
    user.binary = path("framecmp");
    std::ofstream(user.binary, std::ios::binary) << read_file(FRAMECMP_BINARY);
    ASSERT_EQ(chmod(user.binary.c_str(), 0755), 0);
  }
  args[0] = "--stats-file=@ro.json";
  expect_case(args, "", "\nCannot write stats file \"@ro.json\": Permission denied!\n\n", 1, user);
  EXPECT_EQ(read_file(path("ro.json")), "old");
  args[0] = "--diff-image=@ro.json";
  expect_case(args, "", "\nCannot write image \"@ro.json\": Permission denied!\n\n", 1, user);
  EXPECT_EQ(read_file(path("ro.json")), "old");
}

// The stats file holds what --report=frames would write as JSON or CSV, beside any report
// on standard output (sample lines included), and replaces its target only when the run
// succeeds.
TEST_F(Cli, StatsFileBesideAnyReport) {
  std::string ref_bytes(3 * 243, '\0');
  std::string test_bytes = ref_bytes;
  test_bytes[5] = 9, test_bytes[300] = 7;
  const std::string ref = write_bytes(path("r.yuv"), ref_bytes);
  const std::string test = write_bytes(path("t.yuv"), test_bytes);
  const std::vector<std::string> base = {"--size=17x9", test, ref};
  const auto with = [&](std::vector<std::string> options) {
    options.insert(options.end(), base.begin(), base.end());
    return options;
  };
  const struct {
    std::vector<std::string> report;
    const char* file;
    std::vector<std::string> same_as;
  } cases[] = {
      {{}, "s.csv", {"--report=frames", "--csv"}},
      {{"--report=summary", "--json"}, "s.json", {"--report=frames", "--json"}},
      {{"--report=frames", "--psnr-pooling"},
       "p.csv",
       {"--report=frames", "--csv", "--psnr-pooling"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Result plain = run(with(c.report));
    std::vector<std::string> options = c.report;
    options.push_back("--stats-file=" + path(c.file));
    expect(run(with(options)), plain.out, plain.err, plain.status);
    std::string expected = run(with(c.same_as)).out;
    // The document names the run's options: the stats file's run is the other one.
    if (std::string(c.file).ends_with(".json")) {
      EXPECT_EQ(nlohmann::json::parse(read_file(path(c.file)))["frames"],
                nlohmann::json::parse(expected)["frames"]);
    } else {
      EXPECT_EQ(read_file(path(c.file)), expected);
    }
  }
  // A failed run leaves the target as it was; a file that cannot be made is said at once.
  const std::string kept = write_bytes(path("kept.csv"), "old");
  const std::string bad = write_bytes(
      path("bad.y4m"), "YUV4MPEG2 W17 H9\nFRAME\n" + std::string(243, '\0') + "FRAMX\n");
  const Result failed = run({"--stats-file=" + kept, "--", bad, bad});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(read_file(kept), "old");
  expect(run({"--stats-file=" + path("no/such/dir.json"), "--size=17x9", test, ref}), "",
         "\nCannot write stats file \"" + path("no/such/dir.json") + "\"!\n\n", 1);
}

TEST_F(Cli, PictureMemoryThatCannotBeHadIsARefusal) {
#if FRAMECMP_SANITIZED
  GTEST_SKIP() << "sanitizers reserve more address space than the limit leaves";
#else
  // Two frame buffers of 2 GiB fit in 8 GiB of address space; a 64 GiB picture does not.
  RunOptions options;
  options.address_space = rlim_t{8} << 30;
  expect(run({"--pix-fmt=gray", "--size=2147483647x1", "--diff-image=" + path("x.png"),
              "--diff-frame=0", "--exit-code", "/dev/zero", "/dev/zero"},
             options),
         "", "\nMemory exceeded!\n\n", 2);
#endif
}

// Starts framecmp with `args` after argument 0, its standard output and error on /dev/null.
pid_t start_quietly(const std::vector<std::string>& args) {
  std::vector<std::string> all{FRAMECMP_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_WRONLY), 1);
    dup2(open("/dev/null", O_WRONLY), 2);
    execv(FRAMECMP_BINARY, argv.data());
    _exit(127);
  }
  return pid;
}

// Peak memory of a run, in KiB; -1 when it failed.
long peak_memory(const std::vector<std::string>& args) {
  int status = 0;
  rusage usage{};
  wait4(start_quietly(args), &status, 0, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// The JSON document is written as the run goes: 100,000 frames need the memory of 10.
TEST_F(Cli, JsonOfAnyLengthInConstantMemory) {
  const auto peak = [](const char* frames) {
    return peak_memory({"--json", "--report=frames", std::string("--frames=") + frames,
                        "--size=16x16", "/dev/zero", "/dev/zero"});
  };
  const long short_run = peak("10");
  const long long_run = peak("100000");
  ASSERT_GT(short_run, 0);
  // 2 MiB of slack for the loader and the page cache's accounting; a record kept per frame
  // would take 100 MiB or more.
  EXPECT_LE(long_run, short_run + 2048) << "KiB";
}

// A signal while the picture is written leaves no temporary file, and the process ends
// as the signal would; a file size limit is a failed write.
TEST_F(Cli, InterruptedPictureLeavesNoTemporaryFile) {
  const int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir_.c_str(), IN_CREATE), 0);
  // Random samples make a picture that takes long to compress: the signal lands inside.
  const std::vector<std::string> args = {"--report=summary", "--diff-image=" + path("d.png"),
                                         "--frames=1",       "--pix-fmt=gray",
                                         "--size=4096x4096", "/dev/urandom",
                                         "/dev/zero"};
  const pid_t pid = start_quietly(args);
  alignas(inotify_event) char events[4096];
  bool created = false;
  while (!created) {
    const ssize_t got = read(watch, events, sizeof events);
    ASSERT_GT(got, 0);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      created = created || std::string(event->name).rfind("d.png.", 0) == 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(wait_for(pid, std::chrono::seconds(60)), 128 + SIGTERM);
  close(watch);
  const auto leftovers = [&] {
    return std::system(("ls '" + dir_ + "' | grep -q 'd.png'").c_str()) == 0;
  };
  EXPECT_FALSE(leftovers());

  RunOptions limited;
  limited.file_size = 4096;
  std::vector<std::string> small = args;
  small[4] = "--size=256x256";
  const Result got = run(small, limited);
  EXPECT_EQ(got.status, 1);
  EXPECT_NE(got.err.find("\nCannot write image \"" + path("d.png") + "\"!\n\n"), std::string::npos);
  EXPECT_FALSE(leftovers());
}

// Opens `fifo` for writing from a thread of the tests, with SIGPIPE blocked in it, so that
// a reader that stops early fails the write instead of ending the tests; -1 on failure.
int open_fifo_writer(const std::string& fifo) {
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  return open(fifo.c_str(), O_WRONLY);
}

// Waits, ten seconds at most, until the reader of the FIFO open as `fd` has taken all
// that was written to it.
void wait_until_read(const int fd) {
  int unread = 1;
  for (int tries = 0; tries < 5000 && unread > 0; ++tries) {
    if (ioctl(fd, FIONREAD, &unread) != 0) break;
    if (unread > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// A mapped file that shrinks under the run is a file that cannot be read, never a verdict
// and never a signal. The reference comes through a FIFO: the test file is cut once
// framecmp has taken the reference's first two frames, before it can look at frame 2.
TEST_F(Cli, FileThatShrinksWhileMappedCannotBeRead) {
  constexpr std::size_t kFrame = 64 * 64 * 3 / 2;  // frames across pages
  const std::string test = write_sequence("test.yuv", 6, 0, {}, kFrame);
  const std::string bytes = read_file(test);
  const std::string fifo = path("fifo");
  // Cut to nothing (its pages fault), or inside its last page (which reads as zeros past
  // the new end, as the reference holds them there: only the size tells).
  const struct {
    const char* report;
    std::size_t cut;
  } cases[] = {
      {"--report=samples", 0}, {"--report=summary", 0}, {"--report=summary", 6 * kFrame - 10}};
  for (const auto& c : cases) {
    const std::size_t cut = c.cut;
    const char* const report = c.report;
    write_bytes(test, bytes);
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
      const int fd = open_fifo_writer(fifo);
      if (fd < 0) return;
      std::string ref = bytes;
      if (cut == 0) {
        ref[5 * kFrame] ^= 1;  // frame 5 differs, were it ever compared
      } else {
        std::fill(ref.begin() + static_cast<std::ptrdiff_t>(cut), ref.end(), '\0');
      }
      if (write(fd, ref.data(), 2 * kFrame) == static_cast<ssize_t>(2 * kFrame)) {
        wait_until_read(fd);
        if (truncate(test.c_str(), static_cast<off_t>(cut)) == 0) {
          [[maybe_unused]] const ssize_t rest = write(fd, ref.data() + 2 * kFrame, 4 * kFrame);
        }
      }
      close(fd);
    });
    const Result got = run({"--mmap", "--exit-code", report, "--size=64x64", test, fifo});
    writer.join();
    EXPECT_EQ(got.err, "\nCannot read file \"" + test + "\"!\n\n") << report;
    EXPECT_EQ(got.status, 2) << report;
  }
}

// A regular file is read as far as its size at the start, read or mapped: frames that a
// writer appends meanwhile are not compared. The reference, a FIFO, holds the run while
// the test grows.
TEST_F(Cli, FileThatGrowsIsReadToItsSizeAtTheStart) {
  constexpr std::size_t kFrame = 243;
  const std::string test = path("test.yuv");
  const std::string fifo = path("fifo");
  const std::string two(2 * kFrame, '\x20');
  for (const char* mode : {"--threads=1", "--mmap"}) {
    write_bytes(test, two);
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
      const int fd = open_fifo_writer(fifo);
      if (fd < 0) return;
      // All but the last byte of two frames: the run waits inside the second pair.
      if (write(fd, two.data(), two.size() - 1) == static_cast<ssize_t>(two.size() - 1)) {
        wait_until_read(fd);
        std::ofstream(test, std::ios::binary | std::ios::app) << two;
        const std::string rest = " " + two;
        [[maybe_unused]] const ssize_t put = write(fd, rest.data(), rest.size());
      }
      close(fd);
    });
    const Result got = run({mode, "--size=17x9", test, fifo});
    writer.join();
    expect(got, "", shorter(test, 2, fifo), 0);
  }
}

// The statistics are the same, byte for byte, whatever the number of threads: planes of
// several bands, every format kind, a tolerance, a damaged last frame.
TEST_F(Cli, SameOutputForAnyNumberOfThreads) {
  std::uint32_t state = 7;
  std::string ref(std::size_t{3} * 640 * 480 * 3, '\0');
  for (char& c : ref) c = static_cast<char>((state = state * 1103515245 + 12345) >> 16);
  std::string test = ref;
  for (std::size_t i = 0; i < test.size(); i += 7)
    test[i] = static_cast<char>(test[i] ^ static_cast<char>(i % 5));
  // Within a tolerance of 2 but for a few samples; equal but for the last byte.
  std::string within = ref;
  for (std::size_t i = 0; i < within.size(); i += 3) within[i] = static_cast<char>(within[i] ^ 1);
  within[1000] = static_cast<char>(within[1000] ^ 0x40);
  within[within.size() - 10] = static_cast<char>(within[within.size() - 10] ^ 0x40);
  std::string late = ref;
  late[900000] = static_cast<char>(late[900000] ^ 0x40);  // late in a frame of each format
  write_bytes(path("t.yuv"), test);
  write_bytes(path("r.yuv"), ref);
  write_bytes(path("w.yuv"), within);
  write_bytes(path("l.yuv"), late);
  for (const char* format : {"--pix-fmt=yuv420p", "--pix-fmt=nv12", "--pix-fmt=yuv444p10be"}) {
    const std::vector<std::string> modes[] = {
        {"--json", "--report=frames", "--tolerance=2", "--ssim", path("t.yuv")},
        {"--tolerance=2", path("w.yuv")},  // the workers search, one thread writes lines
        {path("l.yuv")},                   // the workers decide the equal frames
    };
    for (const std::vector<std::string>& mode : modes) {
      std::vector<std::string> base = mode;
      base.insert(base.end() - 1, {format, "--size=640x480"});
      base.push_back(path("r.yuv"));
      const Result one = run([&] {
        std::vector<std::string> args{"--threads=1"};
        args.insert(args.end(), base.begin(), base.end());
        return args;
      }());
      ASSERT_LE(one.status, 1) << one.err;
      ASSERT_FALSE(one.out.empty());
      for (const char* threads : {"--threads=2", "--threads=3", "--threads=7"}) {
        std::vector<std::string> args{threads};
        args.insert(args.end(), base.begin(), base.end());
        expect(run(args), one.out, one.err, one.status);
      }
    }
  }
}

// Runs framecmp with standard error (and standard output, when `output_too`) on a new
// pseudo-terminal while a thread feeds `fifo` with `bytes` over about 1.3 s; returns what
// the terminal showed.
std::string run_on_terminal(const std::vector<std::string>& args, const std::string& fifo,
                            const std::string& bytes, const bool output_too = false) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
  const std::string slave = ptsname(master);
  std::vector<std::string> all{FRAMECMP_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::thread writer([&] {
    sigset_t pipe_signal;  // a reader that ends early fails the write, not the tests
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    constexpr std::size_t kPieces = 26;
    const std::size_t piece = bytes.size() / kPieces;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::size_t n = std::min(piece, bytes.size() - at);
      if (write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    close(fd);
  });
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(slave.c_str(), O_WRONLY | O_NOCTTY), 2);
    dup2(output_too ? 2 : open("/dev/null", O_WRONLY), 1);
    execv(FRAMECMP_BINARY, argv.data());
    _exit(127);
  }
  std::string shown;
  int status = 0;
  for (bool running = true; running;) {
    running = waitpid(pid, &status, WNOHANG) == 0;
    pollfd entry{master, POLLIN, 0};
    while (poll(&entry, 1, running ? 10 : 0) > 0 && (entry.revents & POLLIN) != 0) {
      char chunk[4096];
      const ssize_t got = read(master, chunk, sizeof chunk);
      if (got <= 0) break;
      shown.append(chunk, static_cast<std::size_t>(got));
    }
  }
  writer.join();
  close(master);
  return shown;
}

// The progress line: on a terminal after a second, erased before the closing message;
// never with --no-progress, and never when standard error is no terminal.
TEST_F(Cli, ProgressLineOnATerminalOnly) {
  const std::string bytes(40 * 384, '\x10');
  const std::string ref = write_bytes(path("ref.yuv"), bytes);
  const std::string fifo = path("fifo");
  for (const bool wanted : {true, false}) {
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string shown = run_on_terminal(
        {wanted ? "--report=summary" : "--no-progress", "--size=16x16", fifo, ref}, fifo, bytes);
    const std::size_t message = shown.find("Files \"");
    ASSERT_NE(message, std::string::npos) << shown;
    if (!wanted) {
      EXPECT_EQ(shown.find("frames/s"), std::string::npos) << shown;
      continue;
    }
    const std::size_t line = shown.find("\rframe ");
    ASSERT_NE(line, std::string::npos) << shown;
    EXPECT_NE(shown.find(" frames/s, ", line), std::string::npos) << shown;
    const std::size_t erased = shown.rfind("\r\x1b[K", message);
    EXPECT_NE(erased, std::string::npos) << shown;
    EXPECT_GT(erased, line);
  }
  // Report lines on the same terminal: the line is erased before each write, and hash
  // runs show it too.
  std::string differing = bytes;
  for (std::size_t at = 0; at < differing.size(); at += 384) differing[at] = 0;
  const struct {
    std::vector<std::string> args;
    std::string line_start;
  } shared[] = {{{"--progress", "--size=16x16", fifo, ref}, "FRM="},
                {{"--progress", "--report=md5", "--size=16x16", fifo},
                 "57a070c81fe2b538d391c1214996d605"}};  // each frame's MD5
  for (const auto& c : shared) {
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string shown = run_on_terminal(c.args, fifo, differing, true);
    ASSERT_NE(shown.find("\rframe "), std::string::npos) << shown;
    std::size_t lines = 0;
    for (std::size_t at = shown.find(c.line_start); at != std::string::npos;
         at = shown.find(c.line_start, at + 1)) {
      // A report line starts after a newline or after the erased progress line.
      ++lines;
      const std::string before = shown.substr(at < 4 ? 0 : at - 4, at < 4 ? at : 4);
      EXPECT_TRUE(at == 0 || before.back() == '\n' || before == "\r\x1b[K")
          << "at " << at << ": " << shown;
    }
    EXPECT_GE(lines, 40u) << shown;
  }
  // Standard error on a file: no line, whatever the run's length.
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer(feed_fifo, fifo, bytes);
  const Result plain = run({"--report=summary", "--size=16x16", fifo, ref});
  writer.join();
  EXPECT_EQ(plain.err.find("frames/s"), std::string::npos);
}

// nv12 and the same pictures as yuv420p give the same report, line for line: U lines of a
// frame first, then V lines, at positions inside each chroma plane.
TEST_F(Cli, Nv12ReportsLikeThePlanarEquivalent) {
  std::string ref(72, '\0');
  for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<char>(i * 3);
  std::string test = ref;
  for (const std::size_t at : std::vector<std::size_t>{5, 25, 29, 31, 35, 60, 71}) test[at] ^= 0x40;
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  };
  const Result planar = run({"--size=6x4", write("t.yuv", test), write("r.yuv", ref)});
  for (const char* format : {"--pix-fmt=nv12", "--pix-fmt=nv21"}) {
    const bool v_first = std::string(format).back() == '1';
    const auto interleave = [&](const std::string& bytes) {
      std::string out;
      for (std::size_t frame = 0; frame < 2; ++frame) {
        std::string one = yuv_to_nv12(bytes.substr(frame * 36, 36));
        if (v_first) {
          for (std::size_t i = 24; i < 36; i += 2) std::swap(one[i], one[i + 1]);
        }
        out += one;
      }
      return out;
    };
    const Result paired = run(
        {format, "--size=6x4", write("t.nv", interleave(test)), write("r.nv", interleave(ref))});
    EXPECT_EQ(paired.out, planar.out) << format;
    EXPECT_EQ(paired.status, 0);
  }
  EXPECT_EQ(std::count(planar.out.begin(), planar.out.end(), '\n'), 7);
  EXPECT_NE(planar.out.find("FRM=   0 COMP=V POS=(   1,   2) MB=     0"), std::string::npos);
}

// --crop on a 24x16 yuv420p pair: the sample lines are the whole frame's lines inside
// the window (whole-frame positions and blocks), the blocks those of the whole frame that
// lie inside it, and the statistics those of the window cut into files of its own.
TEST_F(Cli, CropWindowReportsLikeTheWholeFrame) {
  std::string ref(3 * 576, '\0');
  std::string test = ref;
  for (std::size_t i = 0; i < ref.size(); ++i) {
    ref[i] = static_cast<char>(i * 13 + i / 7);
    test[i] = static_cast<char>(i % 5 == 0 ? ref[i] ^ 3 : ref[i]);
  }
  const std::string t = path("wt.yuv");
  const std::string r = path("wr.yuv");
  std::ofstream(t, std::ios::binary).write(test.data(), static_cast<std::streamsize>(test.size()));
  std::ofstream(r, std::ios::binary).write(ref.data(), static_cast<std::streamsize>(ref.size()));
  // The window 16x8 at column 8, row 8 of luma; 8x4 at 4, 4 of each chroma plane.
  const auto inside = [](const std::string& line) {
    const char plane = line[14];
    const int row = std::stoi(line.substr(21, 4));
    const int column = std::stoi(line.substr(26, 4));
    const int scale = plane == 'Y' ? 1 : 2;
    return row >= 8 / scale && row < 16 / scale && column >= 8 / scale && column < 24 / scale;
  };
  const Result whole = run({"--block=8", "--size=24x16", t, r});
  std::string expected;
  std::istringstream lines(whole.out);
  for (std::string line; std::getline(lines, line);) {
    if (inside(line)) expected += line + "\n";
  }
  const Result window = run({"--block=8", "--crop=16x8+8+8", "--size=24x16", t, r});
  EXPECT_EQ(window.out, expected);
  EXPECT_NE(expected, "");
  // Blocks 4 and 5 (rows 8-15, columns 8-23) lie wholly inside.
  std::string blocks;
  std::istringstream block_lines(run({"--report=blocks", "--block=8", "--size=24x16", t, r}).out);
  for (std::string line; std::getline(block_lines, line);) {
    if (line.find(" MB=     4 ") != std::string::npos ||
        line.find(" MB=     5 ") != std::string::npos) {
      blocks += line + "\n";
    }
  }
  EXPECT_EQ(run({"--report=blocks", "--block=8", "--crop=16x8+8+8", "--size=24x16", t, r}).out,
            blocks);
  const auto cut = [](const std::string& bytes) {
    std::string out;
    for (std::size_t frame = 0; frame < bytes.size(); frame += 576) {
      for (std::size_t row = 8; row < 16; ++row) out += bytes.substr(frame + row * 24 + 8, 16);
      for (const std::size_t plane : {384u, 480u}) {
        for (std::size_t row = 4; row < 8; ++row) {
          out += bytes.substr(frame + plane + row * 12 + 4, 8);
        }
      }
    }
    return out;
  };
  const std::string ct = path("ct.yuv");
  const std::string cr = path("cr.yuv");
  std::ofstream(ct, std::ios::binary).write(cut(test).data(), 3 * 192);
  std::ofstream(cr, std::ios::binary).write(cut(ref).data(), 3 * 192);
  EXPECT_EQ(run({"--report=frames", "--ssim", "--crop=16x8+8+8", "--size=24x16", t, r}).out,
            run({"--report=frames", "--ssim", "--size=16x8", ct, cr}).out);
  expect(run({"--crop=15x8+8+8", "--size=24x16", t, r}), "",
         "\nInvalid --crop \"15x8+8+8\" of a 24x16 yuv420p frame: the chroma is halved across, "
         "so X and W must be even!\n\n",
         1);
}

// A 10-bit planar sample too large for the high bits of a p010 word can match no word:
// the run names it, with the value the file holds, whichever file it is in. Those cases
// are data: tests/e2e/cases/high-bits-*.case.

// A pair whose files store their frames otherwise (NV12 or NV21 against planar, big- against
// little-endian, test frames padded on the right and below, with a partial last frame)
// gives the report of its planar twin, every report kind; 16x16 frames, so that every plane
// has SSIM windows.
TEST_F(Cli, MixedAndPaddedInputsReportLikeTheirTwins) {
  constexpr std::size_t kW = 16, kH = 16, kLuma = kW * kH, kChroma = kLuma / 4;
  constexpr std::size_t kFrame = kLuma + 2 * kChroma;
  std::string ref(4 * kFrame, '\0');  // four yuv420p frames
  for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<char>(i * 7 + i / kFrame);
  std::string test = ref;
  for (const std::size_t at : std::vector<std::size_t>{5, 25, 129, 131, 165, 260, 371, 500}) {
    test[at] = static_cast<char>(test[at] ^ 0x21);
  }
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  };
  const auto frames = [](const std::string& bytes, const auto& convert) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += kFrame) {
      out += convert(bytes.substr(at, kFrame));
    }
    return out;
  };
  const auto nv12 = [](const std::string& frame) { return yuv_to_nv12(frame, kW, kH); };
  const auto nv21 = [](const std::string& frame) {
    std::string one = yuv_to_nv12(frame, kW, kH);
    for (std::size_t i = kLuma; i < kFrame; i += 2) std::swap(one[i], one[i + 1]);
    return one;
  };
  // 19x19 frames: each plane's rows padded with 0x55 on the right, then rows of 0x55 below.
  const auto padded = [](const std::string& frame) {
    std::string out;
    const auto plane = [&](std::size_t at, std::size_t w, std::size_t h, std::size_t pw,
                           std::size_t ph) {
      for (std::size_t r = 0; r < ph; ++r) {
        out += r < h ? frame.substr(at + r * w, w) + std::string(pw - w, '\x55')
                     : std::string(pw, '\x55');
      }
    };
    plane(0, kW, kH, 19, 19);
    plane(kLuma, kW / 2, kH / 2, 10, 10);
    plane(kLuma + kChroma, kW / 2, kH / 2, 10, 10);
    return out;
  };
  // Every byte a 16-bit word (yuv420p10le), and its big-endian twin.
  const auto words = [](const std::string& frame, bool big) {
    std::string out;
    for (const char c : frame) {
      const char high = static_cast<char>(c & 3);
      out += big ? std::string{high, c} : std::string{c, high};
    }
    return out;
  };
  // The words in the high bits of a p010 frame, U and V in pairs; `low` is or-ed into the
  // first word.
  const auto p010 = [&](const std::string& frame, bool big, std::uint16_t low = 0) {
    const std::string planar = words(frame, false);
    std::vector<std::uint16_t> values;
    for (std::size_t i = 0; i < kFrame; ++i) {
      values.push_back(static_cast<std::uint16_t>(
          (static_cast<unsigned char>(planar[2 * i]) | (planar[2 * i + 1] & 3) << 8) << 6));
    }
    values[0] = static_cast<std::uint16_t>(values[0] | low);
    std::vector<std::uint16_t> order(values.begin(), values.begin() + kLuma);
    for (std::size_t i = 0; i < kChroma; ++i) {
      order.push_back(values[kLuma + i]);
      order.push_back(values[kLuma + kChroma + i]);
    }
    std::string out;
    for (const std::uint16_t v : order) {
      const auto high = static_cast<char>(v >> 8);
      const auto low_byte = static_cast<char>(v & 0xFF);
      out += big ? std::string{high, low_byte} : std::string{low_byte, high};
    }
    return out;
  };
  const std::string t = write("t.yuv", test);
  const std::string r = write("r.yuv", ref);
  // A partial last frame past its luma: read in place, then from the stored buffer.
  const std::string t_nv12 =
      write("t.nv12", frames(test, nv12) + nv12(test.substr(0, kFrame)).substr(0, kLuma + 6));
  const std::string r_nv21 = write("r.nv21", frames(ref, nv21));
  const std::string t_pad = write("t.pad", frames(test, padded));
  const std::string t_le =
      write("t.le", frames(test, [&](const std::string& f) { return words(f, false); }));
  const std::string r_le =
      write("r.le", frames(ref, [&](const std::string& f) { return words(f, false); }));
  const std::string t_be =
      write("t.be", frames(test, [&](const std::string& f) { return words(f, true); }));
  const std::string t_p010 =
      write("t.p010", frames(test, [&](const std::string& f) { return p010(f, false); }));
  const std::string r_p010be =
      write("r.p010be", frames(ref, [&](const std::string& f) { return p010(f, true); }));
  const std::string size = "--size=16x16";
  const struct {
    std::vector<std::string> twin, mixed;
  } cases[] = {
      {{"--pix-fmt=yuv420p10le", size, t_le, r_le},
       {"--test-pix-fmt=p010le", "--pix-fmt=yuv420p10le", size, t_p010, r_le}},
      {{"--pix-fmt=yuv420p10le", size, t_le, r_le},
       {"--pix-fmt=p010le", "--ref-pix-fmt=p010be", size, t_p010, r_p010be}},
      {{size, t, r}, {"--test-pix-fmt=nv12", "--ref-pix-fmt=nv21", size, t_nv12, r_nv21}},
      {{size, t, r}, {"--test-size=19x19", size, t_pad, r}},
      {{"--pix-fmt=yuv420p10le", size, t_le, r_le},
       {"--test-pix-fmt=yuv420p10be", "--pix-fmt=yuv420p10le", size, t_be, r_le}},
  };
  for (const auto& c : cases) {
    for (const std::vector<std::string>& report :
         {std::vector<std::string>{}, {"--report=blocks"}, {"--report=frames", "--ssim"}}) {
      std::vector<std::string> twin = c.twin;
      std::vector<std::string> mixed = c.mixed;
      twin.insert(twin.begin(), report.begin(), report.end());
      mixed.insert(mixed.begin(), report.begin(), report.end());
      const Result expected = run(twin);
      const Result got = run(mixed);
      SCOPED_TRACE(mixed[report.size()]);
      EXPECT_EQ(got.out, expected.out);
      EXPECT_EQ(got.status, expected.status);
      EXPECT_NE(expected.out, "");
      // SSIM is measured: no plane of these frames is without a value.
      if (report.size() == 2) {
        EXPECT_EQ(expected.out.find(" - "), std::string::npos) << expected.out;
      }
    }
  }
  // The test's partial last frame is named in its own bytes and frame size.
  const Result tail = run({"--test-pix-fmt=nv12", size, t_nv12, r});
  EXPECT_NE(tail.err.find("ends in a partial frame of 262 bytes (a frame is 384 bytes)"),
            std::string::npos)
      << tail.err;
  expect(run({"--test-size=15x19", size, t_pad, r}), "",
         "\nInvalid --test-size \"15x19\": the test's frames must hold the reference's 16x16!\n\n",
         1);
  // A stray low bit in a p010 word differs, is named, and lies within any tolerance.
  const std::string r_stray =
      write("r.stray", frames(ref, [&](const std::string& f) { return p010(f, false, 0x21); }));
  const std::string stray_line =
      "FRM=   0 COMP=Y POS=(   0,   0) MB=     0  ==>  test=   0 != ref=   0  low bits: ref "
      "0x21\n";
  const std::vector<std::string> stray{"--pix-fmt=yuv420p10le", "--ref-pix-fmt=p010le", size, r_le,
                                       r_stray};
  EXPECT_EQ(run(stray).out.substr(0, stray_line.size()), stray_line);
  std::vector<std::string> within = stray;
  within.insert(within.begin(), "--tolerance=1");
  EXPECT_EQ(run(within).err,
            "\nFiles \"" + r_le + "\" and \"" + r_stray + "\" match within 1 (4 frames)!\n\n");
  expect(run({"--test-pix-fmt=yuv422p", size, t, r}), "",
         "\nFormats \"yuv422p\" (test) and \"yuv420p\" (reference) cannot be compared: their "
         "planes, subsampling or bit depth differ!\n\n",
         1);
}

}  // namespace
