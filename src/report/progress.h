// The progress line of a long run: one line on standard error, rewritten in place, for a
// person watching a terminal.
#ifndef FRAMECMP_REPORT_PROGRESS_H_
#define FRAMECMP_REPORT_PROGRESS_H_

#include <cstdint>

#include "input/frame_observer.h"
#include "report/report_writer.h"

namespace framecmp {

// Counts the compared frame pairs and, once the run has taken a second, shows on `fd`
// "frame N of TOTAL, F frames/s, M MB/s" at most four times a second. Hands every frame
// on to `next` (when set), so that it can stand in the observer's place.
class ProgressLine final : public FrameObserver {
 public:
  // `total` frame pairs expected, or -1 when unknown; `pair_bytes` read per frame pair.
  ProgressLine(int fd, std::int64_t total, std::int64_t pair_bytes, FrameObserver* next);
  void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
             bool differs) override;
  // Removes the line, if one is shown; before anything else is written to the terminal.
  void erase();

 private:
  void show(std::int64_t now_ns);

  int fd_;
  std::int64_t total_;
  std::int64_t pair_bytes_;
  FrameObserver* next_;
  std::int64_t start_ns_;
  std::int64_t next_update_ns_;  // not before this time
  std::int64_t frames_ = 0;
  bool shown_ = false;
};

// Standard output on its way to the terminal that shows the progress line: the line is
// erased before every write, so that report lines never run into it. `progress` may be
// null; both must outlive the sink.
class ProgressErasingSink final : public OutputSink {
 public:
  ProgressErasingSink(OutputSink& sink, ProgressLine* progress)
      : sink_(sink), progress_(progress) {}
  bool write(const char* data, std::size_t size) override {
    if (progress_ != nullptr) progress_->erase();
    return sink_.write(data, size);
  }

 private:
  OutputSink& sink_;
  ProgressLine* progress_;
};

// True when descriptors `a` and `b` are the same terminal.
bool same_terminal(int a, int b);

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_PROGRESS_H_
