#include "camera/packed_picture.hpp"

#include <cstring>

#include <fmt/format.h>

namespace korvex::camera {
namespace {

// A picture shorter than its format says (a driver's or a fake's mistake)
// must not be read past its end.
Result<void> check_size(std::span<const uint8_t> bytes, uint64_t stride, uint64_t row_bytes,
                        uint64_t rows, const char* format) {
  if (stride < row_bytes) {
    return fail(fmt::format("{} rows of {} bytes are {} apart", format, row_bytes, stride));
  }
  if (rows > 0 && (rows - 1) * stride + row_bytes > bytes.size()) {
    return fail(fmt::format("{} picture of {} bytes holds no {} rows of {} bytes, {} apart", format,
                            bytes.size(), rows, row_bytes, stride));
  }
  return {};
}

Nv12Frame empty_frame(uint32_t width, uint32_t height) {
  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.data.resize(uint64_t{width} * height * 3 / 2);
  return frame;
}

}  // namespace

Result<Nv12Frame> nv12_from_nv12(std::span<const uint8_t> bytes, uint32_t stride, uint32_t width,
                                 uint32_t height) {
  const uint64_t rows = uint64_t{height} + height / 2;
  if (auto fits = check_size(bytes, stride, width, rows, "NV12"); !fits) {
    return Error{fits.error()};
  }
  Nv12Frame frame = empty_frame(width, height);
  for (uint64_t r = 0; r < rows; ++r) {
    std::memcpy(frame.data.data() + r * width, bytes.data() + r * stride, width);
  }
  return frame;
}

Result<Nv12Frame> nv12_from_yuyv(std::span<const uint8_t> bytes, uint32_t stride, uint32_t width,
                                 uint32_t height) {
  const uint64_t row_bytes = (uint64_t{width} + 1) / 2 * 4;  // whole pixel pairs
  if (auto fits = check_size(bytes, stride, row_bytes, height, "YUYV"); !fits) {
    return Error{fits.error()};
  }
  Nv12Frame frame = empty_frame(width, height);
  uint8_t* luma = frame.data.data();
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = bytes.data() + uint64_t{y} * stride;
    for (uint32_t x = 0; x < width; ++x) {
      luma[uint64_t{y} * width + x] = row[2 * x];
    }
  }
  uint8_t* chroma = luma + uint64_t{width} * height;
  for (uint32_t cy = 0; cy < height / 2; ++cy) {
    const uint8_t* top = bytes.data() + uint64_t{2 * cy} * stride;
    const uint8_t* bottom = top + stride;
    uint8_t* out = chroma + uint64_t{cy} * width;
    // U at byte 1 and V at byte 3 of every pixel pair; an odd width's last
    // pair lends its U alone.
    for (uint32_t x = 0; x < width; x += 2) {
      const uint64_t at = uint64_t{x} * 2;
      out[x] = static_cast<uint8_t>((top[at + 1] + bottom[at + 1] + 1) / 2);
      if (x + 1 < width) {
        out[x + 1] = static_cast<uint8_t>((top[at + 3] + bottom[at + 3] + 1) / 2);
      }
    }
  }
  return frame;
}

}  // namespace korvex::camera
