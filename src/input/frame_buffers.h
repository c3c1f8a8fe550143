// The two frame buffers a comparison reads into, taken once a run.
#ifndef FRAMECMP_INPUT_FRAME_BUFFERS_H_
#define FRAMECMP_INPUT_FRAME_BUFFERS_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace framecmp {

// A frame buffer mapped straight from the kernel at a 2 MiB boundary and marked for
// transparent huge pages, so that filling it costs a page fault per 2 MiB instead of one
// per 4 KiB. The mapping ends with the buffer: a huge page is never taken for its tail,
// so memory use stays at the frame size.
class FrameBuffer {
 public:
  explicit FrameBuffer(std::size_t size);
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;
  ~FrameBuffer();
  // nullptr when the memory could not be obtained.
  std::uint8_t* data() const { return data_; }

 private:
  std::size_t size_;              // mapped bytes, a whole number of pages
  std::uint8_t* data_ = nullptr;  // 2 MiB aligned, or nullptr
};

// The two frame buffers of a run, one a sequence, for sources that read into the caller's
// memory and for frames skipped where no seek can pass them.
struct FrameBuffers {
  explicit FrameBuffers(std::size_t frame_size) : test(frame_size), ref(frame_size) {}
  // False when the memory of either could not be obtained.
  bool ok() const { return test.data() != nullptr && ref.data() != nullptr; }
  FrameBuffer test;
  FrameBuffer ref;
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_FRAME_BUFFERS_H_
