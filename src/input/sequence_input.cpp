#include "input/sequence_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>

#include "base/descriptor_io.h"
#include "input/y4m.h"

namespace framecmp {
namespace {

constexpr std::size_t kPageSize = 4096;

// The mappings that a SIGBUS may come from, for its handler: a slot per mapped sequence.
struct MappingSlot {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> faulted{false};
  std::atomic<bool> used{false};
};
MappingSlot g_mapping_slots[4];

// A page of a mapped file that shrank no longer exists: map a zero page in its place, so
// that the access completes, and mark the mapping lost; the run then reports the file as
// unreadable instead of judging it. A SIGBUS from anywhere else ends the process as usual.
extern "C" void on_bus_error(const int signal_number, siginfo_t* const info, void*) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (MappingSlot& slot : g_mapping_slots) {
    if (address < slot.begin.load() || address >= slot.end.load()) continue;
    slot.faulted.store(true);
    const std::uintptr_t page = address & ~std::uintptr_t{kPageSize - 1};
    ::mmap(reinterpret_cast<void*>(page), kPageSize, PROT_READ,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    return;
  }
  ::signal(signal_number, SIG_DFL);  // the access repeats and ends the process
}

int take_mapping_slot() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    ::sigaction(SIGBUS, &action, nullptr);
  });
  for (int i = 0; i < static_cast<int>(std::size(g_mapping_slots)); ++i) {
    bool expected = false;
    if (g_mapping_slots[i].used.compare_exchange_strong(expected, true)) return i;
  }
  return -1;
}

}  // namespace

FileSource::~FileSource() {
  if (window_ != nullptr) ::munmap(const_cast<std::uint8_t*>(window_), window_size_);
  if (slot_ >= 0) {
    MappingSlot& slot = g_mapping_slots[slot_];
    slot.begin.store(0);
    slot.end.store(0);
    slot.faulted.store(false);
    slot.used.store(false);
  }
}

bool FileSource::start_mapping() {
  if (!mapping_allowed_) return false;
  struct stat status {};
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  // A regular file of size 0 may still have contents (/proc), and some cannot be mapped
  // (sysfs): those are read.
  if (at < 0 || ::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= at) {
    return false;
  }
  slot_ = take_mapping_slot();
  if (slot_ < 0) return false;
  position_ = static_cast<std::uint64_t>(at);
  end_ = static_cast<std::uint64_t>(status.st_size);
  return map_window(position_, 1);
}

bool FileSource::map_window(const std::uint64_t from, const std::uint64_t needed) {
  MappingSlot& slot = g_mapping_slots[slot_];
  if (window_ != nullptr) {
    slot.begin.store(0);
    slot.end.store(0);
    ::munmap(const_cast<std::uint8_t*>(window_), window_size_);
    window_ = nullptr;
  }
  window_start_ = from / kPageSize * kPageSize;
  const std::uint64_t wanted = std::max(kMapWindow, from - window_start_ + needed);
  window_size_ = std::min(wanted, end_ - window_start_);
  void* const base =
      ::mmap(nullptr, window_size_, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(window_start_));
  if (base == MAP_FAILED) return false;
  window_ = static_cast<const std::uint8_t*>(base);
  // The window is read once, front to back.
  ::madvise(base, window_size_, MADV_SEQUENTIAL);
  const auto begin = reinterpret_cast<std::uintptr_t>(base);
  slot.begin.store(begin);
  slot.end.store(begin + window_size_);
  return true;
}

const std::uint8_t* FileSource::view_ahead(const std::size_t size, ReadResult& result) {
  if (mapping_ == Mapping::kUnknown) mapping_ = start_mapping() ? Mapping::kMapped : Mapping::kNot;
  if (mapping_ != Mapping::kMapped) return nullptr;
  result = {};
  const std::uint64_t count =
      std::min<std::uint64_t>(size, end_ > position_ ? end_ - position_ : 0);
  result.bytes = static_cast<std::size_t>(count);
  static constexpr std::uint8_t kNothing = 0;
  if (count == 0) return &kNothing;
  if (window_ == nullptr || position_ < window_start_ ||
      position_ + count > window_start_ + window_size_) {
    if (!map_window(position_, count)) {
      result = {0, true, false};
      return &kNothing;
    }
  }
  return window_ + (position_ - window_start_);
}

const std::uint8_t* FileSource::view_frame(const std::size_t size, ReadResult& result) {
  const std::uint8_t* const frame = view_ahead(size, result);
  if (frame != nullptr) consume(result.bytes);
  return frame;
}

bool FileSource::view_lost() const {
  if (slot_ < 0) return false;
  if (g_mapping_slots[slot_].faulted.load()) return true;
  // A file cut inside a page reads as zeros past its new end without a fault: the size,
  // taken after the bytes were used, must still hold every byte handed out.
  struct stat status {};
  return ::fstat(fd_, &status) != 0 || static_cast<std::uint64_t>(status.st_size) < position_;
}

void FileSource::start_reading() {
  reading_started_ = true;
  struct stat status {};
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  // A regular file of size 0 may still have contents (/proc): read to its end.
  if (at < 0 || ::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
    return;
  }
  read_left_ = status.st_size > at ? static_cast<std::uint64_t>(status.st_size - at) : 0;
}

ReadResult FileSource::read_frame(std::uint8_t* const buffer, std::size_t size) {
  // A regular file is read as far as its size at the first read: what a writer appends
  // meanwhile is not part of the run, whether the file is read or mapped.
  if (!reading_started_) start_reading();
  if (read_left_) size = static_cast<std::size_t>(std::min<std::uint64_t>(size, *read_left_));
  ReadResult result;
  // A pipe hands over a frame in pieces; keep reading until it is whole or the input ends.
  while (result.bytes < size) {
    const ssize_t got = ::read(fd_, buffer + result.bytes, size - result.bytes);
    if (got > 0) {
      result.bytes += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A non-blocking pipe whose writer pauses: wait for more rather than give up.
      if (!wait_until_ready(fd_, Readiness::kReadable)) {
        result.failed = true;
        break;
      }
    } else if (errno != EINTR) {
      result.failed = true;
      break;
    }
  }
  if (read_left_) *read_left_ -= result.bytes;
  return result;
}

SequenceSource::Detection SequenceSource::detect() {
  Detection detection;
  // Where reading starts: standard input may be a regular file that was read in part
  // before framecmp started, and a raw one is read again from here, not from its start.
  const off_t start = ::lseek(fd_, 0, SEEK_CUR);
  // A byte at a time, deciding at the first one that cannot begin the magic: on a live
  // pipe of tiny raw frames the next bytes may be long in coming.
  while (prefix_size_ < kY4mMagic.size()) {
    const ReadResult got = file_.read_frame(&prefix_[prefix_size_], 1);
    if (got.failed) {
      detection.read_failed = true;
      return detection;
    }
    if (got.bytes == 0) break;
    ++prefix_size_;
    if (prefix_[prefix_size_ - 1] != static_cast<std::uint8_t>(kY4mMagic[prefix_size_ - 1])) break;
  }
  if (prefix_size_ < kY4mMagic.size() ||
      prefix_[prefix_size_ - 1] != static_cast<std::uint8_t>(kY4mMagic.back())) {
    // Raw: a regular file is simply read again from where it started; a pipe gets its
    // bytes back.
    struct stat status {};
    if (start >= 0 && ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) &&
        ::lseek(fd_, start, SEEK_SET) == start) {
      prefix_size_ = 0;
      file_.restart_reading();
    }
    return detection;
  }
  detection.y4m = y4m_ = true;
  prefix_size_ = 0;
  detection.header_line = std::string(kY4mMagic);
  // One byte at a time: the frames that follow must stay unread.
  for (;;) {
    std::uint8_t c = 0;
    const ReadResult byte = file_.read_frame(&c, 1);
    if (byte.failed) {
      detection.read_failed = true;
      return detection;
    }
    if (byte.bytes == 0) {
      detection.header_problem = Detection::HeaderProblem::kEnded;
      return detection;
    }
    if (c == '\n') return detection;
    // The line and its newline may take kMaxY4mHeaderLength bytes, no more.
    if (detection.header_line.size() + 1 >= kMaxY4mHeaderLength) {
      detection.header_problem = Detection::HeaderProblem::kTooLong;
      return detection;
    }
    detection.header_line += static_cast<char>(c);
  }
}

ReadResult SequenceSource::read_bytes(std::uint8_t* const buffer, const std::size_t size) {
  ReadResult result;
  const std::size_t from_prefix = std::min(size, prefix_size_ - prefix_at_);
  if (from_prefix > 0) {
    std::memcpy(buffer, prefix_.data() + prefix_at_, from_prefix);
    prefix_at_ += from_prefix;
    result.bytes = from_prefix;
  }
  if (result.bytes < size) {
    const ReadResult rest = file_.read_frame(buffer + result.bytes, size - result.bytes);
    result.bytes += rest.bytes;
    result.failed = rest.failed;
  }
  keep_head(buffer, result.bytes);
  return result;
}

void SequenceSource::keep_head(const std::uint8_t* const bytes, const std::size_t size) {
  if (head_size_ == head_.size()) return;
  const std::size_t more = std::min(head_.size() - head_size_, size);
  std::memcpy(head_.data() + head_size_, bytes, more);
  head_size_ += more;
}

bool SequenceSource::begins_with_y4m_magic() const {
  return head_size_ == kY4mMagic.size() &&
         std::memcmp(head_.data(), kY4mMagic.data(), kY4mMagic.size()) == 0;
}

SequenceSource::Marker SequenceSource::read_marker() {
  // "FRAME\n" in one small read, the usual case; parameters after a blank byte by byte.
  using Kind = Y4mMarkerScanner::Kind;
  Y4mMarkerScanner scanner;
  std::array<std::uint8_t, 6> head{};
  const ReadResult got = read_bytes(head.data(), head.size());
  if (got.failed) return kFailed;
  for (std::size_t i = 0; i < got.bytes; ++i) {
    if (const Kind kind = scanner.feed(head[i]); kind != Kind::kMore) return kind;
  }
  if (got.bytes < head.size()) return scanner.end();
  for (;;) {
    std::uint8_t c = 0;
    const ReadResult byte = read_bytes(&c, 1);
    if (byte.failed) return kFailed;
    if (byte.bytes == 0) return scanner.end();
    if (const Kind kind = scanner.feed(c); kind != Kind::kMore) return kind;
  }
}

bool SequenceSource::begin_frame(const Marker marker, ReadResult& result) {
  using Kind = Y4mMarkerScanner::Kind;
  if (!marker) {
    result.failed = true;
    return false;
  }
  switch (*marker) {
    case Kind::kFound:
      ++frames_started_;
      return true;
    case Kind::kEnd:
      return false;
    case Kind::kCut:  // a frame with no samples
      result.frame_begun = true;
      return false;
    case Kind::kBad:
    case Kind::kTooLong:
    case Kind::kMore:  // never returned by a scan that ended
      bad_marker_frame_ = frames_started_;
      marker_too_long_ = *marker == Kind::kTooLong;
      result.failed = true;
      return false;
  }
  return false;
}

ReadResult SequenceSource::read_frame(std::uint8_t* const buffer, const std::size_t size) {
  if (!y4m_) return read_bytes(buffer, size);
  ReadResult result;
  while (result.bytes < size) {
    if (frame_offset_ == 0 && !begin_frame(read_marker(), result)) break;
    const std::size_t want = std::min(size - result.bytes, frame_size_ - frame_offset_);
    const ReadResult got = read_bytes(buffer + result.bytes, want);
    result.bytes += got.bytes;
    frame_offset_ = (frame_offset_ + got.bytes) % frame_size_;
    if (got.bytes < want) {
      result.failed = got.failed;
      result.frame_begun = true;
      break;
    }
  }
  return result;
}

const std::uint8_t* SequenceSource::view_frame(const std::size_t size, ReadResult& result) {
  if (prefix_at_ < prefix_size_) return nullptr;
  if (y4m_) return view_y4m_frame(size, result);
  const std::uint8_t* const frame = file_.view_frame(size, result);
  if (frame != nullptr) keep_head(frame, result.bytes);
  return frame;
}

const std::uint8_t* SequenceSource::view_y4m_frame(const std::size_t size, ReadResult& result) {
  // A frame read in part by read_frame() goes on being read; pair reads ask for whole
  // frames, so that does not happen once mapping has begun.
  if (frame_offset_ != 0 || size != frame_size_) return nullptr;
  ReadResult ahead;
  const std::uint8_t* const marker = file_.view_ahead(kMaxY4mMarkerLength, ahead);
  if (marker == nullptr) return nullptr;
  result = {};
  if (ahead.failed) {
    result.failed = true;
    return marker;
  }
  // The window holds every byte up to the file's end, so a scan still undecided after the
  // bytes it got has reached the input's end.
  using Kind = Y4mMarkerScanner::Kind;
  Y4mMarkerScanner scanner;
  Kind kind = Kind::kMore;
  for (std::size_t i = 0; i < ahead.bytes && kind == Kind::kMore; ++i)
    kind = scanner.feed(marker[i]);
  if (kind == Kind::kMore) kind = scanner.end();
  // A cut marker is consumed (the next view finds the end); a bad one stays.
  if (kind == Kind::kFound || kind == Kind::kCut) file_.consume(scanner.length());
  if (!begin_frame(kind, result)) return marker;
  const std::uint8_t* const frame = file_.view_frame(size, result);
  if (result.bytes < size) result.frame_begun = true;
  return frame;
}

bool SequenceSource::skip_frames(const std::int64_t count, const std::size_t frame_size,
                                 std::uint8_t* const scratch) {
  // Markers may differ in length, and bytes looked at may be pending: only a raw file with
  // nothing pending can be seeked.
  if (y4m_ || prefix_at_ < prefix_size_) {
    return FrameSource::skip_frames(count, frame_size, scratch);
  }
  return file_.skip_frames(count, frame_size, scratch);
}

bool FrameSource::skip_frames(const std::int64_t count, const std::size_t frame_size,
                              std::uint8_t* const scratch) {
  for (std::int64_t i = 0; i < count; ++i) {
    const ReadResult got = read_frame(scratch, frame_size);
    if (got.failed) return false;
    if (got.bytes < frame_size) return true;  // the end: nothing more to skip
  }
  return true;
}

bool FileSource::skip_frames(const std::int64_t count, const std::size_t frame_size,
                             std::uint8_t* const scratch) {
  // Both factors are below 2^31, so the distance fits in off_t; a seek past the end is
  // allowed and leaves the next read at the end.
  const auto distance = static_cast<off_t>(count) * static_cast<off_t>(frame_size);
  struct stat status {};
  if (!reading_started_) start_reading();
  if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) &&
      ::lseek(fd_, distance, SEEK_CUR) >= 0) {
    if (read_left_) {
      *read_left_ -= std::min<std::uint64_t>(*read_left_, static_cast<std::uint64_t>(distance));
    }
    return true;
  }
  return FrameSource::skip_frames(count, frame_size, scratch);
}

}  // namespace framecmp
