// A picture of where a frame pair differs: each plane as a panel at its own resolution,
// equal samples as the reference in dim grey, differing ones in a colour whose strength
// grows with the difference, the block grid drawn faintly. Written as a PNG.
#ifndef FRAMECMP_REPORT_DIFF_IMAGE_H_
#define FRAMECMP_REPORT_DIFF_IMAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "input/frame_geometry.h"
#include "input/frame_observer.h"
#include "report/output_file.h"
#include "report/run_header.h"

namespace framecmp {

// An RGB picture, 8 bits per channel, row by row.
struct RgbImage {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 3 bytes
};

// Where panel `plane` (0 Y, 1 U, 2 V) of a difference picture starts: Y at the top left,
// U and V side by side below it, each under a label strip of kLabelHeight rows.
struct PanelPlace {
  std::int64_t x = 0;
  std::int64_t y = 0;  // the panel's first sample row (below its label strip)
};

inline constexpr std::int64_t kLabelHeight = 9;  // rows of the strip that names a panel
inline constexpr std::int64_t kPanelGap = 4;     // pixels between panels

// The places of the panels of `geometry`'s planes, and the picture's size.
std::vector<PanelPlace> panel_places(const FrameGeometry& geometry, std::int64_t& width,
                                     std::int64_t& height);

// How a difference's strength is scaled: from 80 for the smallest up to 255 at `top` (0:
// the largest sample of the depth); or, with `dim_up_to` > 0, 80 for a difference up to
// it and 255 for any larger one.
struct ColourScale {
  std::uint32_t top = 0;
  std::uint32_t dim_up_to = 0;
};

// What a picture shows beyond the differences: their scale, and a block outlined.
struct DrawOptions {
  DiffScale scale = DiffScale::kDepth;
  std::uint32_t scale_limit = 0;    // kLimit: differences up to it are drawn dimly
  std::int64_t outline_block = -1;  // a block (raster index) ringed in yellow in every panel
};

// Colour of a sample pair: for an equal pair (|test - ref| <= tolerance) the reference
// sample scaled to 8 bits at 40% (dim grey), tinted green on a block edge; otherwise red
// (test above ref) or blue (below) with a strength from `scale`.
void sample_colour(std::uint32_t test, std::uint32_t ref, int depth, std::uint32_t tolerance,
                   bool block_edge, std::uint8_t* rgb, ColourScale scale = {});

// The longest side a PNG can have, in pixels.
inline constexpr std::int64_t kMaxPngSide = 0x7FFFFFFF;

// A black picture of the size `geometry`'s panels need, its memory taken at once; nothing
// when that memory cannot be had.
std::optional<RgbImage> make_difference_image(const FrameGeometry& geometry);

// Draws the picture of one frame pair (`test` and `ref`, each a whole frame of `geometry`)
// into `image`, which make_difference_image made for that geometry. With DiffScale::kAuto
// the strength is scaled to the frame's largest difference beyond the tolerance.
void draw_difference(const FrameGeometry& geometry, const std::uint8_t* test,
                     const std::uint8_t* ref, std::uint32_t tolerance, RgbImage& image,
                     const DrawOptions& options = {});

// Draws the picture of the first frame pair that differs beyond the tolerance, or of the
// frame with the test file's index `wanted_frame` (>= 0), as the walk hands them over,
// into a picture whose memory was taken before the run.
class DiffImageTaker final : public FrameObserver {
 public:
  // `image` is make_difference_image's for `geometry`; `tolerance` and the options'
  // scale_limit are differences between stored samples (stored_tolerance).
  DiffImageTaker(const FrameGeometry& geometry, std::uint32_t tolerance, std::int64_t wanted_frame,
                 RgbImage image, const DrawOptions& options = {})
      : geometry_(geometry),
        tolerance_(tolerance),
        wanted_frame_(wanted_frame),
        options_(options),
        image_(std::move(image)) {}
  void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
             bool differs) override;
  bool drawn() const { return drawn_; }
  const RgbImage& image() const { return image_; }

 private:
  const FrameGeometry& geometry_;
  std::uint32_t tolerance_;
  std::int64_t wanted_frame_;  // -1: the first that differs
  DrawOptions options_;
  bool drawn_ = false;
  RgbImage image_;
};

// `image` as the bytes of a PNG; nothing when it could not be encoded.
std::optional<std::string> png_bytes(const RgbImage& image);

// Writes `image` as a PNG to `path`. A regular file (or a link to one) is replaced through
// a temporary file beside it, renamed at the end, so that nothing half-written stays
// under the final name and a link stays a link; anything else that exists (/dev/null, a
// FIFO) is written straight into. The temporary file is removed when SIGINT, SIGTERM or
// SIGHUP ends the process meanwhile; a file size limit (SIGXFSZ) is a failed write.
// Messages of libpng never reach standard error. False when it could not be written.
bool write_png(const RgbImage& image, const std::string& path);

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_DIFF_IMAGE_H_
