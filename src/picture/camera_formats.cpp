#include "picture/camera_formats.hpp"

#include <cstdio>

namespace korvex::picture {
namespace {

// a/b compared with c/d, without division.
bool at_most(FrameRate a, FrameRate b) {
  return uint64_t{a.numerator} * b.denominator <= uint64_t{b.numerator} * a.denominator;
}

}  // namespace

std::optional<CameraFormat> offered_format(PixelFormat pixels, uint32_t width, uint32_t height,
                                           FrameRate rate) {
  if (rate.numerator == 0 || rate.denominator == 0 || !at_most(kSlowestRate, rate) ||
      !at_most(rate, kFastestRate)) {
    return std::nullopt;
  }
  for (const CameraFormat& format : kCameraFormats) {
    if (format.pixels == pixels && format.width == width && format.height == height) {
      return CameraFormat{pixels, width, height, rate};
    }
  }
  return std::nullopt;
}

std::chrono::nanoseconds frame_period(FrameRate rate) {
  return std::chrono::nanoseconds(uint64_t{1'000'000'000} * rate.denominator / rate.numerator);
}

uint64_t bits_per_second(const CameraFormat& format) {
  const uint64_t frame_bits = packed_size(format.pixels, format.width, format.height) * 8;
  return frame_bits * format.rate.numerator / format.rate.denominator;
}

std::string describe(const CameraFormat& format) {
  char text[64];
  const double fps = static_cast<double>(format.rate.numerator) / format.rate.denominator;
  const bool whole = format.rate.numerator % format.rate.denominator == 0;
  std::snprintf(text, sizeof text, whole ? "%s %ux%u at %.0f fps" : "%s %ux%u at %.2f fps",
                format.pixels == PixelFormat::nv12 ? "NV12" : "YUY2", format.width, format.height,
                fps);
  return text;
}

}  // namespace korvex::picture
