#include "capture_filter/capture_formats.hpp"

#include <algorithm>

namespace korvex::capture_filter {
namespace {

constexpr uint32_t make_fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}

// Programs round 1/30 s and 1/15 s either way (333333 or 333334, 666666 or
// 666667); a rate outside the offered range by more than that is refused.
constexpr int64_t kRounding = 1000;

}  // namespace

uint32_t fourcc(picture::PixelFormat pixels) {
  switch (pixels) {
    case picture::PixelFormat::yuy2:
      return make_fourcc('Y', 'U', 'Y', '2');
    case picture::PixelFormat::nv12:
      return make_fourcc('N', 'V', '1', '2');
    case picture::PixelFormat::i420:
      return make_fourcc('I', '4', '2', '0');
  }
  return 0;
}

uint16_t bits_per_pixel(picture::PixelFormat pixels) {
  return pixels == picture::PixelFormat::yuy2 ? 16 : 12;
}

uint32_t image_size(const CaptureFormat& format) {
  return static_cast<uint32_t>(picture::packed_size(format.pixels, format.width, format.height));
}

uint32_t bit_rate(const StreamChoice& choice) {
  const uint64_t bits = uint64_t{image_size(choice.format)} * 8;
  return static_cast<uint32_t>(bits * 10'000'000 / static_cast<uint64_t>(choice.interval));
}

std::optional<StreamChoice> choose(const VideoRequest& request) {
  const int64_t height = request.height < 0 ? -int64_t{request.height} : request.height;
  for (const CaptureFormat& format : kCaptureFormats) {
    if (fourcc(format.pixels) != request.fourcc || request.width != int64_t{format.width} ||
        height != format.height) {
      continue;
    }
    if (request.bit_count != 0 && request.bit_count != bits_per_pixel(format.pixels)) {
      return std::nullopt;
    }
    if (request.image_size != 0 && request.image_size != image_size(format)) {
      return std::nullopt;
    }
    if (request.interval == 0) {
      return StreamChoice{format, kShortestInterval};
    }
    if (request.interval < kShortestInterval - kRounding ||
        request.interval > kLongestInterval + kRounding) {
      return std::nullopt;
    }
    return StreamChoice{format, std::clamp(request.interval, kShortestInterval, kLongestInterval)};
  }
  return std::nullopt;
}

}  // namespace korvex::capture_filter
