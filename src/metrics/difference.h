// One sample pair that differs: where it lies and both values, as the reports name it.
#ifndef FRAMECMP_METRICS_DIFFERENCE_H_
#define FRAMECMP_METRICS_DIFFERENCE_H_

#include <cstdint>

#include "input/frame_geometry.h"

namespace framecmp {

// Everything one report line says of a differing sample pair (values, not stored words).
struct ReportFields {
  std::int64_t frame = 0;  // 0-based
  char plane_letter = 'Y';
  SamplePosition position;
  std::uint32_t test_sample = 0;
  std::uint32_t ref_sample = 0;

  friend bool operator==(const ReportFields&, const ReportFields&) = default;
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_DIFFERENCE_H_
