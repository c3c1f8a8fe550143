// Inputs stored otherwise than they are compared: a decoder's NV12 or big-endian output
// against a planar little-endian reference, or frames padded beyond the reference's size.
// Each frame is converted once, as it passes, into the planar layout of the compared size.
#ifndef FRAMECMP_INPUT_FRAME_CONVERT_H_
#define FRAMECMP_INPUT_FRAME_CONVERT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/frame_buffers.h"
#include "input/frame_geometry.h"
#include "input/pixel_format.h"
#include "input/sequence_input.h"

namespace framecmp {

// The planar layout in which `format` is compared: its subsampling and depth, the chroma
// in planes of their own (nv12 as yuv420p), two-byte samples little-endian.
PixelFormat planar_equivalent(const PixelFormat& format);

// True when two formats can be compared sample by sample: the same planes, subsampling
// and bit depth, whatever their layout and byte order.
bool comparable_formats(const PixelFormat& a, const PixelFormat& b);

// True when two formats arrange their samples alike: the same chroma interleaving and
// order, and the same byte order where samples take two bytes.
bool same_arrangement(const PixelFormat& a, const PixelFormat& b);

// True when two formats store their frames byte for byte alike (yuvj420p is yuv420p):
// comparable and arranged alike.
inline bool same_storage(const PixelFormat& a, const PixelFormat& b) {
  return comparable_formats(a, b) && same_arrangement(a, b);
}

// Hands out the frames of `inner`, stored as `stored` (at least as large as `compared` in
// every plane), as frames of `compared`: the top-left region of each plane, in the
// compared layout. The frames are handed out in place, from a buffer taken once.
class ConvertingSource final : public FrameSource {
 public:
  // Keeps references to `inner` and both geometries.
  ConvertingSource(FrameSource& inner, const FrameGeometry& stored, const FrameGeometry& compared);
  // False when the buffers could not be had.
  bool ok() const { return frame_.data() != nullptr && stored_buffer_.data() != nullptr; }
  // `size` is the compared frame size: a whole frame at a time.
  ReadResult read_frame(std::uint8_t* buffer, std::size_t size) override;
  bool skip_frames(std::int64_t count, std::size_t frame_size, std::uint8_t* scratch) override;
  // `size` is the compared frame size. A partial stored frame is handed out as a partial
  // frame of as many compared bytes (at most size - 1), its own bytes in stored_tail().
  const std::uint8_t* view_frame(std::size_t size, ReadResult& result) override;
  bool view_lost() const override { return inner_.view_lost(); }
  // Bytes of the stored frame the last read ended in, and the stored frame size.
  std::size_t stored_tail() const { return stored_tail_; }
  std::int64_t stored_frame_size() const { return stored_.frame_size; }

  // A sample raised into the high bits of a word (a 10-bit file against a p010 one) that is
  // too large for them: its word could not hold it, so the frame it is in reads as a
  // failure, and this names the first such sample. Positions are the whole frame's.
  struct Beyond {
    char plane_letter;
    std::int32_t row;
    std::int32_t column;
    std::uint32_t value;  // as the file holds it
  };
  const std::optional<Beyond>& beyond() const { return beyond_; }

 private:
  // Converts planes first_plane.. of the stored frame at `stored` into frame_.
  void convert(const std::uint8_t* stored, std::size_t first_plane);
  // Names the first sample of plane row `row` (stored at `source`) too large to raise.
  void note_beyond(std::size_t plane, std::int64_t row, const std::uint8_t* source);
  // U and V of one-byte pairs (nv12, nv21) into their planes.
  void split_pairs(const std::uint8_t* stored, std::uint8_t* out) const;
  // Reads a stored frame whose first direct_bytes_ go straight into the compared frame
  // and the rest into the stored buffer; `size` as in view_frame.
  const std::uint8_t* read_split(std::size_t size, ReadResult& result);

  FrameSource& inner_;
  const FrameGeometry& stored_;
  const FrameGeometry& compared_;
  FrameBuffer frame_;          // the compared frame handed out
  FrameBuffer stored_buffer_;  // the stored frame, when the inner source reads
  std::size_t stored_tail_ = 0;
  // Bytes at the start of a stored frame that are the compared frame's own, at the same
  // places (the luma of nv12 or p010 against planar, uncut): read in place, not copied.
  std::size_t direct_bytes_ = 0;
  std::optional<Beyond> beyond_;
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_FRAME_CONVERT_H_
