#pragma once

// Writes the luma plane of a decoded picture as an 8-bit greyscale PNG, for
// checking by eye what the decoder produced.

#include <cstdint>
#include <string>

#include "common/nv12_frame.hpp"
#include "common/result.hpp"

namespace korvex::png {

// Writes "frame-{n}.png" into `dir` (created with any missing parents),
// replacing an existing file, and returns its path. Fails with
// "{path}: {system error}" when the file cannot be created.
Result<std::string> dump_frame(const std::string& dir, uint64_t n, const Nv12Frame& frame);

}  // namespace korvex::png
