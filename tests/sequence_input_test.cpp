#include "sequence_input.h"

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

}  // namespace
}  // namespace framecmp
