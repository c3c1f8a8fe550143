// End-to-end: runs the built framecmp and checks standard output, standard error and
// the exit status byte for byte.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

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

  // Runs framecmp with `args` after argument 0; standard output goes to `out_path` when
  // given, else it is captured.
  Result run(const std::vector<std::string>& args, const std::string& out_path = "") const {
    const std::string out_file = out_path.empty() ? path("stdout") : out_path;
    const std::string err_file = path("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> all{FRAMECMP_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    if (posix_spawn(&pid, FRAMECMP_BINARY, &actions, nullptr, argv.data(), environ) != 0) {
      ADD_FAILURE() << "cannot start " << FRAMECMP_BINARY;
      return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    if (out_path.empty()) result.out = read_file(out_file);
    result.err = read_file(err_file);
    return result;
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
  const std::vector<std::vector<std::string>> cases = {
      {}, {"32"}, {"32", "16", "a"}, {"32", "16", "a", "b", "0", "extra"}};
  for (const auto& args : cases) expect(run(args), "", kUsage, 1);
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
  expect(run({"32", "16", tail, tail_other}), "", identical(tail, tail_other, 2), 0);
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

}  // namespace
