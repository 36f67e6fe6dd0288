#pragma once

// The picture a sample carries, read back tightly packed, and the pictures
// the camera should show, made the way the picture module makes them.

#include <windows.h>
// windows.h must come first.
#include <mfobjects.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "picture/camera_picture.hpp"

namespace korvex::media_source::test {

struct Picture {
  picture::PixelFormat format = picture::PixelFormat::nv12;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bytes;  // packed_size(format, width, height)

  uint8_t luma(uint32_t x, uint32_t y) const;
  bool operator==(const Picture&) const = default;
};

// The sample's one buffer as a `format` picture of width x height; nothing
// when the sample holds another number of bytes.
std::optional<Picture> picture_of(IMFSample* sample, picture::PixelFormat format, uint32_t width,
                                  uint32_t height);

// What the camera shows without a usable section.
Picture placeholder(picture::PixelFormat format, uint32_t width, uint32_t height);

// What the picture module shows now from the system's frame section at this
// size, as the Linux camera would show it.
Picture section_picture(picture::PixelFormat format, uint32_t width, uint32_t height);

}  // namespace korvex::media_source::test
