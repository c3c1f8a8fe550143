#include "report/report_line.h"

namespace framecmp {
namespace {

using report_line_detail::kDigitPairs;

template <std::size_t N>
char* put_literal(char* out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + N - 1;
}

// Writes `value` in decimal, right-aligned with blanks to at least `min_width` characters
// (printf's "%<min_width>d" for a non-negative value), and returns the end.
char* put_padded(char* out, std::uint64_t value, const int min_width) {
  char digits[20];
  char* const end = digits + sizeof digits;
  char* first = end;
  while (value >= 100) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[(value % 100) * 2], 2);
    value /= 100;
  }
  if (value >= 10) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[value * 2], 2);
  } else {
    *--first = static_cast<char>('0' + value);
  }
  const auto length = static_cast<int>(end - first);
  for (int pad = length; pad < min_width; ++pad) *out++ = ' ';
  std::memcpy(out, first, static_cast<std::size_t>(length));
  return out + length;
}

}  // namespace

std::size_t format_report_line(char* const out, const ReportFields& fields,
                               const int sample_width) {
  char* p = put_literal(out, "FRM=");
  p = put_padded(p, static_cast<std::uint64_t>(fields.frame), kFrameFieldWidth);
  p = put_literal(p, " COMP=");
  *p++ = fields.plane_letter;
  p = put_literal(p, " POS=(");
  p = put_padded(p, static_cast<std::uint32_t>(fields.position.row), kRowFieldWidth);
  *p++ = ',';
  p = put_padded(p, static_cast<std::uint32_t>(fields.position.column), kColumnFieldWidth);
  p = put_literal(p, ") MB=");
  p = put_padded(p, static_cast<std::uint64_t>(fields.position.block), kBlockFieldWidth);
  p = put_literal(p, "  ==>  test=");
  p = put_padded(p, fields.test_sample, sample_width);
  p = put_literal(p, " != ref=");
  p = put_padded(p, fields.ref_sample, sample_width);
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

bool fits_minimum_width(const FrameGeometry& geometry, const PlaneLayout& plane,
                        const std::int64_t frame) {
  const std::int64_t last_row = std::int64_t{plane.origin_row} + plane.height - 1;
  const std::int64_t last_column = std::int64_t{plane.origin_column} + plane.width - 1;
  return frame < 10000 && last_row < 10000 && last_column < 10000 &&
         block_of(geometry, plane, static_cast<std::int32_t>(last_row),
                  static_cast<std::int32_t>(last_column)) < 1000000;
}

}  // namespace framecmp
