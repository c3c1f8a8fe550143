#include "input/frame_buffers.h"

#include <sys/mman.h>

#include <cstdint>

namespace framecmp {
namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

constexpr std::size_t round_up(const std::size_t value, const std::size_t unit) {
  return (value + unit - 1) / unit * unit;
}

}  // namespace

FrameBuffer::FrameBuffer(const std::size_t size) : size_(round_up(size, kPageSize)) {
  // Map one alignment unit more, then give back what lies outside the aligned part.
  const std::size_t mapped = size_ + kHugePageSize;
  void* const base =
      ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return;
  const auto start = reinterpret_cast<std::uintptr_t>(base);
  const std::uintptr_t aligned = round_up(start, kHugePageSize);
  if (aligned > start) ::munmap(base, aligned - start);
  if (const std::uintptr_t end = start + mapped; end > aligned + size_) {
    ::munmap(reinterpret_cast<void*>(aligned + size_), end - aligned - size_);
  }
  data_ = reinterpret_cast<std::uint8_t*>(aligned);
  // Only hints: without them the buffer works the same, only a little slower.
  ::madvise(data_, size_, MADV_HUGEPAGE);
  // The tail past the last whole huge page would take a fault per 4 KiB; one call faults
  // it in instead. It is under 2 MiB, so nothing large is committed before it is needed.
  const std::size_t body = size_ / kHugePageSize * kHugePageSize;
  if (body < size_) ::madvise(data_ + body, size_ - body, MADV_POPULATE_WRITE);
}

FrameBuffer::~FrameBuffer() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

}  // namespace framecmp
