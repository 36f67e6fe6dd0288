#pragma once

// 8-bit greyscale PNG files, for looking at pictures by eye.

#include <cstdint>
#include <string>

#include "common/result.hpp"

namespace korvex::png {

// Writes `width` x `height` pixels, rows `stride` bytes apart, as a PNG at the
// UTF-8 `path`, replacing an existing file. Fails with "{path}: {system error}"
// when the file cannot be created or written, and with "PNG encoder: ..." when
// the picture cannot be encoded.
Result<void> write_grey_png(const std::string& path, const uint8_t* pixels, uint32_t width,
                            uint32_t height, uint32_t stride);

}  // namespace korvex::png
