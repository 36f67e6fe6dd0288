#pragma once

#include <cstdint>
#include <string>

#include "common/result.hpp"

namespace korvex::tools {

// Writes an 8-bit greyscale PNG of `width` x `height` pixels, rows `stride`
// bytes apart. `path` is UTF-8.
Result<void> write_grey_png(const std::string& path, const uint8_t* pixels, uint32_t width,
                            uint32_t height, uint32_t stride);

}  // namespace korvex::tools
