// The plan of a run, made before any sample is read: the frame size and format settled
// from the command line and the YUV4MPEG2 headers, how each file stores its frames, the
// layout they are compared in and the geometries of all three. Every refusal that needs
// no file content is made here.
#ifndef FRAMECMP_RUN_RUN_PLAN_H_
#define FRAMECMP_RUN_RUN_PLAN_H_

#include <cstdint>
#include <optional>
#include <string>

#include "cli/command_line.h"
#include "input/frame_geometry.h"
#include "input/pixel_format.h"
#include "input/y4m.h"

namespace framecmp {

struct RunPlan {
  PixelFormat test;  // how each file stores its frames
  PixelFormat ref;
  std::int32_t test_width = 0;  // the test's stored frames (padded with --test-size)
  std::int32_t test_height = 0;
  PixelFormat compared;       // the layout the frames are compared in
  bool convert_test = false;  // a file stored otherwise is converted frame by frame
  bool convert_ref = false;
  FrameGeometry geometry;     // compared: the whole frame, or the --crop window of it
  FrameGeometry test_stored;  // as the files store their frames
  FrameGeometry ref_stored;
};

// Plans the run of `settings` whose files carry the YUV4MPEG2 headers given (the modern
// form; the classic one has none): settles settings.width, height and format, and fills
// `plan`. Reads no file. Returns the refusal for standard error, or "" when planned.
std::string plan_run(RunSettings& settings, const std::optional<Y4mHeader>& test_header,
                     const std::optional<Y4mHeader>& ref_header, RunPlan& plan);

}  // namespace framecmp

#endif  // FRAMECMP_RUN_RUN_PLAN_H_
