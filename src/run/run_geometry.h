// The frame size and pixel format of a run, settled from the command line and the
// YUV4MPEG2 headers of its sequences.
#ifndef FRAMECMP_RUN_RUN_GEOMETRY_H_
#define FRAMECMP_RUN_RUN_GEOMETRY_H_

#include <optional>
#include <string>

#include "cli/command_line.h"
#include "input/y4m.h"

namespace framecmp {

// Settles the frame size and format of a run whose sequences may carry YUV4MPEG2 headers
// (`test` and `ref`, when present): two headers must agree, a header gives a raw file its
// geometry, and a size or format given on the command line must agree with a header.
// Fills settings.width, height and format; returns the refusal, or "" when all agree.
std::string settle_geometry(RunSettings& settings, const std::optional<Y4mHeader>& test,
                            const std::optional<Y4mHeader>& ref);

}  // namespace framecmp

#endif  // FRAMECMP_RUN_RUN_GEOMETRY_H_
