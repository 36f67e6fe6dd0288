#pragma once

// The Unicode lower-case mapping as runs of code points that share one offset.

#include <cstdint>
#include <span>

namespace korvex::audio {

// Code points first, first + stride, ... up to last lower-case to themselves
// plus delta. Sorted by first; runs do not overlap.
struct LowerCaseRun {
  char32_t first;
  char32_t last;
  int32_t delta;
  uint32_t stride;
};

std::span<const LowerCaseRun> lower_case_runs();

}  // namespace korvex::audio
