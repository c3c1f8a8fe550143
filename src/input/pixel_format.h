// The raw sample layouts framecmp reads: planes, chroma subsampling, bytes per sample and
// byte order, named as FFmpeg users know them (yuv420p, nv12, yuv420p10le, ...).
#ifndef FRAMECMP_INPUT_PIXEL_FORMAT_H_
#define FRAMECMP_INPUT_PIXEL_FORMAT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace framecmp {

enum class ByteOrder : std::uint8_t { kLittle, kBig };

// How one frame's samples are laid out in a file.
// Invariants: plane_count is 1 (Y only) or 3 (Y, U, V); the chroma shifts are 0 or 1;
// bytes_per_sample is 1 for depth 8 and 2 for depths 9 to 16; interleaved_chroma with 8-bit
// 4:2:0 (nv12, nv21) and with the two-byte formats whose value lies in the high bits of
// each word (p010le and its family), where U and V share one plane of pairs;
// depth + value_shift <= 16.
struct PixelFormat {
  std::string name;                 // as accepted by find_pixel_format, e.g. "yuv420p10le"
  std::uint8_t plane_count = 3;     // 1: Y only; 3: Y, U, V
  std::uint8_t chroma_shift_x = 1;  // log2 of the horizontal chroma subsampling
  std::uint8_t chroma_shift_y = 1;  // log2 of the vertical chroma subsampling
  std::uint8_t depth = 8;           // bits per sample
  std::uint8_t bytes_per_sample = 1;
  ByteOrder byte_order = ByteOrder::kLittle;  // of two-byte samples
  bool interleaved_chroma = false;            // one plane of U,V pairs after Y (nv12, nv21)
  bool v_first = false;                       // each pair holds V before U (nv21)
  // Low bits of each two-byte word below the value (6 for p010le, whose 10 bits are the
  // high bits of the word): the sample's value is word >> value_shift. 0 for the others.
  std::uint8_t value_shift = 0;
};

// The value of the two-byte sample whose first byte is at `p`, in byte order kOrder.
template <ByteOrder kOrder>
constexpr std::uint32_t load_two_bytes(const std::uint8_t* const p) {
  if constexpr (kOrder == ByteOrder::kLittle) return p[0] | std::uint32_t{p[1]} << 8;
  return std::uint32_t{p[0]} << 8 | p[1];
}

// The value of the sample whose first byte is at `p`: one byte, or two in `order`.
constexpr std::uint32_t load_sample(const std::uint8_t* const p,
                                    const std::uint8_t bytes_per_sample, const ByteOrder order) {
  if (bytes_per_sample == 1) return p[0];
  return order == ByteOrder::kLittle ? load_two_bytes<ByteOrder::kLittle>(p)
                                     : load_two_bytes<ByteOrder::kBig>(p);
}

// The format of the classic command line: planar 8-bit 4:2:0.
inline constexpr std::string_view kDefaultPixelFormat = "yuv420p";

// The format called `name` (exact, lower case), or nothing when no format has that name.
std::optional<PixelFormat> find_pixel_format(std::string_view name);

// Every name find_pixel_format accepts, the 8-bit ones first (for shell completion).
std::vector<std::string> pixel_format_names();

// Every accepted name in words, for a message that refuses an unknown one.
std::string describe_pixel_formats();

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_PIXEL_FORMAT_H_
