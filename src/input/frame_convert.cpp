#include "input/frame_convert.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace framecmp {

PixelFormat planar_equivalent(const PixelFormat& format) {
  PixelFormat planar = format;
  planar.interleaved_chroma = false;
  planar.v_first = false;
  planar.byte_order = ByteOrder::kLittle;
  if (format.interleaved_chroma) {
    planar.name = format.chroma_shift_y > 0   ? "yuv420p"
                  : format.chroma_shift_x > 0 ? "yuv422p"
                                              : "yuv444p";
    if (format.bytes_per_sample == 2) planar.name += std::to_string(format.depth) + "le";
  } else if (format.bytes_per_sample == 2) {
    planar.name.replace(planar.name.size() - 2, 2, "le");
  }
  return planar;
}

bool comparable_formats(const PixelFormat& a, const PixelFormat& b) {
  return a.plane_count == b.plane_count && a.chroma_shift_x == b.chroma_shift_x &&
         a.chroma_shift_y == b.chroma_shift_y && a.depth == b.depth &&
         a.bytes_per_sample == b.bytes_per_sample;
}

bool same_arrangement(const PixelFormat& a, const PixelFormat& b) {
  return a.interleaved_chroma == b.interleaved_chroma && a.v_first == b.v_first &&
         (a.bytes_per_sample == 1 || a.byte_order == b.byte_order);
}

ConvertingSource::ConvertingSource(FrameSource& inner, const FrameGeometry& stored,
                                   const FrameGeometry& compared)
    : inner_(inner),
      stored_(stored),
      compared_(compared),
      frame_(static_cast<std::size_t>(compared.frame_size)),
      stored_buffer_(static_cast<std::size_t>(stored.frame_size)) {
  const PlaneLayout& from = stored.planes[0];
  const PlaneLayout& to = compared.planes[0];
  const bool same_luma = from.offset == 0 && to.offset == 0 && from.width == to.width &&
                         from.height == to.height && from.stride == to.stride &&
                         (from.bytes_per_sample == 1 || from.byte_order == to.byte_order) &&
                         to.origin_row == 0 && to.origin_column == 0 &&
                         stored.value_shift == compared.value_shift;
  if (same_luma && compared.plane_count > 1) direct_bytes_ = static_cast<std::size_t>(to.span());
}

namespace {

// Copies `count` two-byte samples `stride` bytes apart from `source`, stored in `order`,
// to consecutive little-endian words at `target`, shifted up by `shift` bits (a 10-bit
// sample into the high bits of a p010 word). Returns the bits of all samples or-ed
// together: a sample too large for the high bits, which no valid file holds, shows there
// (its word is cut to 16 bits, and the caller must not compare it).
template <ByteOrder kOrder>
std::uint32_t copy_words(const std::uint8_t* source, const std::size_t stride, std::uint8_t* target,
                         const std::size_t count, const int shift) {
  std::uint32_t bits = 0;
  for (std::size_t x = 0; x < count; ++x, source += stride, target += 2) {
    const std::uint32_t sample = load_two_bytes<kOrder>(source);
    bits |= sample;
    const std::uint32_t word = sample << shift;
    target[0] = static_cast<std::uint8_t>(word);
    target[1] = static_cast<std::uint8_t>(word >> 8);
  }
  return bits;
}

// The first sample of `count` that exceeds `limit`, which one does.
template <ByteOrder kOrder>
std::size_t first_beyond(const std::uint8_t* source, const std::size_t stride,
                         const std::size_t count, const std::uint32_t limit) {
  std::size_t x = 0;
  while (x + 1 < count && load_two_bytes<kOrder>(source + x * stride) <= limit) ++x;
  return x;
}

}  // namespace

void ConvertingSource::note_beyond(const std::size_t plane, const std::int64_t row,
                                   const std::uint8_t* const source) {
  const PlaneLayout& from = stored_.planes[plane];
  const PlaneLayout& to = compared_.planes[plane];
  const int shift = compared_.value_shift - stored_.value_shift;
  const std::uint32_t limit = 0xFFFFu >> shift;
  const auto width = static_cast<std::size_t>(to.width);
  const std::size_t x = from.byte_order == ByteOrder::kLittle
                            ? first_beyond<ByteOrder::kLittle>(source, from.stride, width, limit)
                            : first_beyond<ByteOrder::kBig>(source, from.stride, width, limit);
  beyond_ = Beyond{to.letter, static_cast<std::int32_t>(row + to.origin_row),
                   static_cast<std::int32_t>(x + static_cast<std::size_t>(to.origin_column)),
                   load_sample(source + x * from.stride, 2, from.byte_order)};
}

void ConvertingSource::convert(const std::uint8_t* const stored, const std::size_t first_plane) {
  std::uint8_t* const out = frame_.data();
  const int shift = compared_.value_shift - stored_.value_shift;
  const std::uint32_t beyond_mask = ~(0xFFFFu >> shift);
  for (std::size_t p = first_plane; p < compared_.plane_count; ++p) {
    const PlaneLayout& from = stored_.planes[p];
    const PlaneLayout& to = compared_.planes[p];
    if (p == 1 && from.in_pair_plane && from.bytes_per_sample == 1) {
      split_pairs(stored, out);  // U and V at once, the pairs read once
      break;
    }
    for (std::int64_t row = 0; row < to.height; ++row) {
      // A window of the stored frame (--crop) starts at the compared plane's origin.
      const std::uint8_t* const source =
          stored + from.offset +
          ((row + to.origin_row) * from.width + to.origin_column) * from.stride;
      std::uint8_t* const target = out + to.offset + row * to.width * to.stride;
      const auto width = static_cast<std::size_t>(to.width);
      if (from.stride == to.stride && from.byte_order == to.byte_order && shift == 0) {
        std::memcpy(target, source, width * to.stride);  // a padded frame's rows
      } else if (from.bytes_per_sample == 1) {
        for (std::size_t x = 0; x < width; ++x) target[x] = source[2 * x];  // one of U,V
      } else {
        const std::uint32_t bits =
            from.byte_order == ByteOrder::kLittle
                ? copy_words<ByteOrder::kLittle>(source, from.stride, target, width, shift)
                : copy_words<ByteOrder::kBig>(source, from.stride, target, width, shift);
        if ((bits & beyond_mask) != 0 && !beyond_) note_beyond(p, row, source);
      }
    }
  }
}

void ConvertingSource::split_pairs(const std::uint8_t* const stored,
                                   std::uint8_t* const out) const {
  const PlaneLayout& from_u = stored_.planes[1];
  const PlaneLayout& to_u = compared_.planes[1];
  const PlaneLayout& to_v = compared_.planes[2];
  // V's byte of each pair, relative to U's: after it (nv12) or before it (nv21).
  const std::int64_t v_after_u = stored_.planes[2].offset - from_u.offset;
  const auto width = static_cast<std::size_t>(to_u.width);
  for (std::int64_t row = 0; row < to_u.height; ++row) {
    const std::uint8_t* const u =
        stored + from_u.offset + ((row + to_u.origin_row) * from_u.width + to_u.origin_column) * 2;
    const std::uint8_t* const v = u + v_after_u;
    std::uint8_t* const u_out = out + to_u.offset + row * to_u.width;
    std::uint8_t* const v_out = out + to_v.offset + row * to_v.width;
    for (std::size_t x = 0; x < width; ++x) {
      u_out[x] = u[2 * x];
      v_out[x] = v[2 * x];
    }
  }
}

const std::uint8_t* ConvertingSource::read_split(const std::size_t size, ReadResult& result) {
  const auto stored_size = static_cast<std::size_t>(stored_.frame_size);
  std::uint8_t* const frame = frame_.data();
  const ReadResult head = inner_.read_frame(frame, direct_bytes_);
  result = head;
  if (head.bytes == direct_bytes_) {
    const ReadResult rest =
        inner_.read_frame(stored_buffer_.data() + direct_bytes_, stored_size - direct_bytes_);
    result = rest;
    result.bytes += direct_bytes_;
    if (result.bytes == stored_size) {
      stored_tail_ = 0;
      convert(stored_buffer_.data(), 1);
      result.bytes = beyond_ ? 0 : size;
      result.failed = beyond_.has_value();
      return frame;
    }
  }
  // Cut short: the bytes stand as they were stored (see view_frame), the head in place.
  stored_tail_ = result.bytes;
  const std::size_t shown = std::min(result.bytes, size - 1);
  if (shown > direct_bytes_) {
    std::memcpy(frame + direct_bytes_, stored_buffer_.data() + direct_bytes_,
                shown - direct_bytes_);
  }
  result.bytes = shown;
  return frame;
}

const std::uint8_t* ConvertingSource::view_frame(const std::size_t size, ReadResult& result) {
  const auto stored_size = static_cast<std::size_t>(stored_.frame_size);
  ReadResult got;
  const std::uint8_t* stored = inner_.view_frame(stored_size, got);
  if (stored == nullptr && direct_bytes_ > 0) return read_split(size, result);
  if (stored == nullptr) {
    got = inner_.read_frame(stored_buffer_.data(), stored_size);
    stored = stored_buffer_.data();
  }
  result = got;
  stored_tail_ = 0;
  if (got.bytes == stored_size) {
    convert(stored, 0);
    // A frame with a sample too large to compare is no frame: the read failed.
    result.bytes = beyond_ ? 0 : size;
    result.failed = beyond_.has_value();
    return frame_.data();
  }
  // A frame cut short is no frame to convert: it stays partial, with as many bytes as
  // the compared frame can show, so that the shorter sequence is still the shorter; its
  // stored bytes stand in for them, so that two tails are equal only when they are.
  stored_tail_ = got.bytes;
  result.bytes = std::min(got.bytes, size - 1);
  std::memcpy(frame_.data(), stored, result.bytes);
  return frame_.data();
}

ReadResult ConvertingSource::read_frame(std::uint8_t* const buffer, const std::size_t size) {
  ReadResult result;
  const std::uint8_t* const frame = view_frame(size, result);
  std::memcpy(buffer, frame, result.bytes);
  return result;
}

bool ConvertingSource::skip_frames(const std::int64_t count, std::size_t, std::uint8_t*) {
  return inner_.skip_frames(count, static_cast<std::size_t>(stored_.frame_size),
                            stored_buffer_.data());
}

}  // namespace framecmp
