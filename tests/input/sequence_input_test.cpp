#include "input/sequence_input.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace framecmp {
namespace {

void on_signal(int) {}

// Writes `bytes` into `fd` in pieces with pauses, then closes it.
void write_slowly(const int fd, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t piece = std::min<std::size_t>(97, bytes.size() - at);
    const ssize_t put = write(fd, bytes.data() + at, piece);
    if (put <= 0) break;
    at += static_cast<std::size_t>(put);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  close(fd);
}

// A read interrupted by a signal (EINTR) or finding a non-blocking pipe empty (EAGAIN)
// goes on: the frame arrives whole, and the end after it is no failure.
TEST(FileSource, JoinsPiecesThroughInterruptionsAndEmptyNonBlockingReads) {
  struct sigaction action {};
  action.sa_handler = on_signal;  // no SA_RESTART: a blocked read returns EINTR
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
  std::vector<std::uint8_t> frame(1000);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7);
  for (const bool nonblocking : {false, true}) {
    SCOPED_TRACE(nonblocking ? "non-blocking" : "blocking");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    if (nonblocking) fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    const pthread_t reader = pthread_self();
    std::thread writer([&] {
      for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pthread_kill(reader, SIGUSR1);
      }
      write_slowly(fds[1], frame);
    });
    FileSource source(fds[0]);
    std::vector<std::uint8_t> buffer(frame.size());
    const ReadResult whole = source.read_frame(buffer.data(), buffer.size());
    const ReadResult end = source.read_frame(buffer.data(), buffer.size());
    writer.join();
    close(fds[0]);
    EXPECT_EQ(whole.bytes, frame.size());
    EXPECT_FALSE(whole.failed);
    EXPECT_EQ(buffer, frame);
    EXPECT_EQ(end.bytes, 0u);
    EXPECT_FALSE(end.failed);
  }
  sigaction(SIGUSR1, &old, nullptr);
}

TEST(FileSource, ReadErrorIsToldApartFromTheEnd) {
  const int fd = open("/proc/self/mem", O_RDONLY);
  ASSERT_GE(fd, 0);
  FileSource source(fd);
  std::uint8_t buffer[16];
  const ReadResult result = source.read_frame(buffer, sizeof buffer);
  close(fd);
  EXPECT_TRUE(result.failed);
}

// What a source brought, read by pairs of frames as the pair reader asks: every read's
// result and bytes, then what it said of its markers.
std::string drain(SequenceSource& source, const std::size_t frame_size) {
  source.detect();
  source.set_frame_size(frame_size);
  std::vector<std::uint8_t> buffer(frame_size);
  std::string record;
  for (;;) {
    ReadResult got;
    const std::uint8_t* bytes = source.view_frame(frame_size, got);
    if (bytes == nullptr) {
      got = source.read_frame(buffer.data(), frame_size);
      bytes = buffer.data();
    }
    record += std::to_string(got.bytes) + (got.failed ? "F" : "") + (got.frame_begun ? "B" : "") +
              ":" + std::string(bytes, bytes + got.bytes) + "|";
    if (got.bytes < frame_size || got.failed) break;
  }
  return record + std::to_string(source.bad_marker_frame()) +
         (source.marker_too_long() ? " long" : "");
}

// A YUV4MPEG2 file mapped (--mmap) is read in place, its markers parsed in the mapping; the
// same file read, and a pipe of the same bytes, must bring the same frames and damage.
TEST(SequenceSource, MappedAndReadStreamsAgree) {
  const std::string header = "YUV4MPEG2 W4 H2 Cmono\n";
  const std::string frame = "abcdefgh";
  const std::string x4090(4090, 'x');
  const std::string cases[] = {
      "",
      "FRAME\n" + frame + "FRAME\n" + frame,
      "FRAME Ixx A1:1\n" + frame + "FRAME\n" + frame.substr(0, 3),
      "FRAME\n" + frame + "FRA",
      "FRAME\n" + frame + "FRAME",
      "FRAME\n" + frame + "FRAME Ixx",
      "FRAME\n" + frame + "FRAME\n",
      "FRAMX\n" + frame,
      "FRAME\n" + frame + "FRAMEX" + frame,
      "FRAME " + x4090.substr(1) + "\n" + frame,  // 4096 bytes with the newline
      "FRAME " + x4090 + "\n" + frame,            // 4097
      "FRAME " + x4090,                           // cut at 4096 bytes, no newline
      "FRAME " + x4090.substr(1),                 // cut at 4095
  };
  const std::string dir = testing::TempDir();
  for (const std::string& body : cases) {
    SCOPED_TRACE(body.substr(0, 40));
    const std::string bytes = header + body;
    const std::string file = dir + "/mapped.y4m";
    const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(out);
    const int in = open(file.c_str(), O_RDONLY);
    SequenceSource mapped(in);
    mapped.allow_mapping();
    const std::string from_mapping = drain(mapped, frame.size());
    const int again = open(file.c_str(), O_RDONLY);
    SequenceSource read(again);
    EXPECT_EQ(from_mapping, drain(read, frame.size()));
    close(again);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    SequenceSource piped(fds[0]);
    EXPECT_EQ(from_mapping, drain(piped, frame.size()));
    close(fds[0]);
    close(in);
  }
}

}  // namespace
}  // namespace framecmp
