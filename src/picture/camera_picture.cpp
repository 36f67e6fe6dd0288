#include "picture/camera_picture.hpp"

#include <cstring>

namespace korvex::picture {

uint64_t packed_size(PixelFormat format, uint32_t width, uint32_t height) {
  const uint64_t pixels = uint64_t{width} * height;
  return format == PixelFormat::nv12 ? pixels * 3 / 2 : pixels * 2;
}

CameraPicture::CameraPicture(Opener open, TickSource tick)
    : open_(std::move(open)), tick_(std::move(tick)) {}

CameraPicture CameraPicture::for_system() {
  return CameraPicture(section::open_existing_frame_section, section::activity_tick_now);
}

bool CameraPicture::attach() {
  return false;
}

CameraPicture::Shown CameraPicture::render(const PictureBuffer& out) {
  // First cut: a flat grey picture until the section is read.
  for (uint32_t row = 0; row < out.height; ++row) {
    uint8_t* line = out.data + uint64_t{row} * out.pitch;
    if (out.format == PixelFormat::nv12) {
      std::memset(line, 0x30, out.width);
    } else {
      for (uint32_t x = 0; x < out.width; ++x) {
        line[2 * x] = 0x30;
        line[2 * x + 1] = 0x80;
      }
    }
  }
  if (out.format == PixelFormat::nv12) {
    for (uint32_t row = 0; row < out.height / 2; ++row) {
      std::memset(out.data + uint64_t{out.pitch} * (out.height + row), 0x80, out.width);
    }
  }
  return Shown::placeholder;
}

}  // namespace korvex::picture
