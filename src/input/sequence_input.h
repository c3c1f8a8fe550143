// The sequences as sources of frames: a file read or mapped, and a YUV4MPEG2 stream
// framed by its markers.
#ifndef FRAMECMP_INPUT_SEQUENCE_INPUT_H_
#define FRAMECMP_INPUT_SEQUENCE_INPUT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/worker_pool.h"
#include "input/y4m.h"

namespace framecmp {

// What one read of a frame brought.
struct ReadResult {
  std::size_t bytes = 0;  // bytes stored at the start of the buffer, <= the size asked for
  bool failed = false;    // true when an error, not the end of the input, cut the read short
  // The read began a frame that the input's end cut short before its bytes: a YUV4MPEG2
  // frame marker, whole or in part, was read (so even 0 bytes are a partial frame).
  bool frame_begun = false;
};

// Where a sequence's bytes come from, read front to back in frame-sized blocks.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Fills `buffer` with the next `size` bytes. Brings fewer only at the end of the input
  // or when a read fails; then `failed` tells the two apart.
  virtual ReadResult read_frame(std::uint8_t* buffer, std::size_t size) = 0;
  // Moves past the next `count` frames of `frame_size` bytes, reading them into `scratch`
  // (frame_size bytes) and dropping them. Skipping past the end is no failure: the next
  // read finds the end. False when a read failed.
  virtual bool skip_frames(std::int64_t count, std::size_t frame_size, std::uint8_t* scratch);
  // Where the source can hand out its next `size` bytes in place, without a copy (a
  // mapped regular file): a pointer to them, valid until the next call on this source,
  // with `result` telling how many there are (fewer only at the end). nullptr when the
  // source reads into the caller's buffer instead; then nothing was consumed.
  virtual const std::uint8_t* view_frame(std::size_t /*size*/, ReadResult& /*result*/) {
    return nullptr;
  }
  // True once bytes handed out in place could not be read after all (the file shrank
  // while mapped): what was compared since the last check is void.
  virtual bool view_lost() const { return false; }
};

// A sequence read from an open file descriptor (regular file, pipe or terminal). Does not
// own the descriptor. Pieces of a frame that arrive separately, as from a pipe, are joined,
// and a non-blocking pipe whose writer pauses is waited for.
class FileSource final : public FrameSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override;
  ReadResult read_frame(std::uint8_t* buffer, std::size_t size) override;
  // Seeks where the descriptor allows it (a regular file); reads and drops otherwise.
  bool skip_frames(std::int64_t count, std::size_t frame_size, std::uint8_t* scratch) override;
  // Lets view_frame map a regular file (--mmap). Reading is the default: a read into a
  // buffer that stays in cache costs less than the page faults and TLB misses of a
  // mapping walked once, but needs a buffer of a frame.
  void allow_mapping() { mapping_allowed_ = true; }
  // With allow_mapping(), a regular file is mapped read-only, from where the descriptor
  // stands to its size at the first call (a file that grows is read that far), a window
  // of at least kMapWindow bytes at a time; anything else gives nullptr. Once mapping has
  // begun, only views may be asked for.
  const std::uint8_t* view_frame(std::size_t size, ReadResult& result) override;
  // True once an access to the mapping faulted, or the file is now shorter than the bytes
  // handed out (it shrank): zeros that took the missing bytes' place were compared instead.
  bool view_lost() const override;
  // As view_frame(), but nothing is consumed: the next view starts at the same byte.
  const std::uint8_t* view_ahead(std::size_t size, ReadResult& result);
  // After the descriptor was seeked back to where reading began: the size to read to is
  // taken again at the next read.
  void restart_reading() {
    reading_started_ = false;
    read_left_.reset();
  }
  // Moves past `count` bytes of a view_ahead() that brought at least that many.
  void consume(std::size_t count) { position_ += count; }

 private:
  bool start_mapping();
  void start_reading();
  bool map_window(std::uint64_t from, std::uint64_t needed);

  int fd_;  // open for reading; read front to back, seeked only to skip frames
  bool mapping_allowed_ = false;
  enum class Mapping : std::uint8_t { kUnknown, kMapped, kNot } mapping_ = Mapping::kUnknown;
  std::uint64_t position_ = 0;      // file offset of the next byte handed out
  std::uint64_t end_ = 0;           // the file's size when mapping began
  std::uint64_t window_start_ = 0;  // file offset of the window, page-aligned
  std::uint64_t window_size_ = 0;   // bytes mapped; 0 when no window is
  const std::uint8_t* window_ = nullptr;
  int slot_ = -1;  // this mapping's entry in the table the SIGBUS handler reads
  bool reading_started_ = false;
  std::optional<std::uint64_t> read_left_;  // a regular file's bytes left to read, if known
};

// Bytes of a regular file mapped at a time: large mappings cost fewer calls, and two of
// them (one a sequence) bound what is mapped.
inline constexpr std::uint64_t kMapWindow = std::uint64_t{64} << 20;

// A sequence as the run reads it: a raw file, or a YUV4MPEG2 stream whose header and frame
// markers are read from the same descriptor that brings the frames (so that a pipe works),
// leaving only the frame bytes to the caller.
class SequenceSource final : public FrameSource {
 public:
  explicit SequenceSource(int fd) : file_(fd), fd_(fd) {}

  // What the first bytes of a sequence are.
  struct Detection {
    enum class HeaderProblem : std::uint8_t {
      kNone,
      kTooLong,  // no newline within kMaxY4mHeaderLength bytes
      kEnded,    // the input ended inside the header line
    };
    bool read_failed = false;  // a read failed while looking
    bool y4m = false;          // a YUV4MPEG2 stream: its header line is in header_line
    std::string header_line;   // without its newline; "" when none was found
    HeaderProblem header_problem = HeaderProblem::kNone;
  };

  // Looks at the first bytes, from where the descriptor stands. A YUV4MPEG2 stream's
  // header line is read; anything else is left to be read as frames: a regular file is
  // seeked back, a pipe's bytes looked at are kept for the first frame. Decides at the
  // first byte that cannot begin kY4mMagic.
  Detection detect();

  // The frame size, needed to find the frame markers of a YUV4MPEG2 stream.
  void set_frame_size(std::size_t frame_size) { frame_size_ = frame_size; }
  // Lets a regular file be mapped rather than read (FileSource::allow_mapping).
  void allow_mapping() { file_.allow_mapping(); }

  ReadResult read_frame(std::uint8_t* buffer, std::size_t size) override;
  bool skip_frames(std::int64_t count, std::size_t frame_size, std::uint8_t* scratch) override;
  // In place for a regular file with no looked-at bytes pending, raw or YUV4MPEG2 (whose
  // markers are parsed in the mapping as it passes); everything else is read.
  const std::uint8_t* view_frame(std::size_t size, ReadResult& result) override;
  bool view_lost() const override { return file_.view_lost(); }

  // The file's index (0-based) of the frame whose marker was not FRAME, or -1.
  std::int64_t bad_marker_frame() const { return bad_marker_frame_; }
  // True when that marker was a FRAME line longer than kMaxY4mMarkerLength.
  bool marker_too_long() const { return marker_too_long_; }

  // True for a YUV4MPEG2 stream (after detect()).
  bool is_y4m() const { return y4m_; }

  // True when the first bytes handed on as frames are kY4mMagic: a YUV4MPEG2 stream read
  // as raw samples (the classic form does not look for headers).
  bool begins_with_y4m_magic() const;

 private:
  // What was found where a frame marker should begin; nothing when a read failed.
  using Marker = std::optional<Y4mMarkerScanner::Kind>;
  static constexpr std::nullopt_t kFailed = std::nullopt;
  ReadResult read_bytes(std::uint8_t* buffer, std::size_t size);
  // Keeps the first bytes handed on, up to head_'s size, for begins_with_y4m_magic().
  void keep_head(const std::uint8_t* bytes, std::size_t size);
  Marker read_marker();
  // Books `marker`, found where the next frame should begin: true when a frame begins;
  // otherwise the end, a frame cut short, a bad marker or a failed read, in `result`.
  bool begin_frame(Marker marker, ReadResult& result);
  const std::uint8_t* view_y4m_frame(std::size_t size, ReadResult& result);

  FileSource file_;
  int fd_;
  std::array<std::uint8_t, 16> prefix_{};  // bytes looked at and not yet handed on
  std::size_t prefix_size_ = 0;
  std::size_t prefix_at_ = 0;
  bool y4m_ = false;
  std::size_t frame_size_ = 0;
  std::size_t frame_offset_ = 0;  // bytes of the current frame already read
  std::int64_t frames_started_ = 0;
  std::int64_t bad_marker_frame_ = -1;
  bool marker_too_long_ = false;
  std::array<std::uint8_t, 10> head_{};  // the first bytes handed on: kY4mMagic's length
  std::size_t head_size_ = 0;
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_SEQUENCE_INPUT_H_
