#pragma once

// The formats the Windows camera offers to applications: NV12 first, then
// YUY2 for applications on the older capture path, each at five sizes and at
// 30 and 15 frames a second, the first the default. The 16:9 sizes fit a
// landscape phone; call programs often ask for 4:3 (640x480, 1280x960), and
// get the same picture fitted with bars, as a portrait phone is.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "picture/camera_picture.hpp"

namespace korvex::picture {

struct FrameRate {
  uint32_t numerator = 30;
  uint32_t denominator = 1;

  bool operator==(const FrameRate& other) const {
    return uint64_t{numerator} * other.denominator == uint64_t{other.numerator} * denominator;
  }
};

inline constexpr FrameRate kSlowestRate{15, 1};
inline constexpr FrameRate kFastestRate{30, 1};

struct CameraFormat {
  PixelFormat pixels = PixelFormat::nv12;
  uint32_t width = 0;
  uint32_t height = 0;
  FrameRate rate;

  bool operator==(const CameraFormat&) const = default;
};

namespace detail {

inline constexpr std::pair<uint32_t, uint32_t> kSizes[] = {
    {1920, 1080}, {1280, 720}, {640, 360},  // 16:9, largest first
    {1280, 960},  {640, 480},               // 4:3
};

constexpr std::array<CameraFormat, 20> list_formats() {
  std::array<CameraFormat, 20> formats{};
  size_t i = 0;
  for (PixelFormat pixels : {PixelFormat::nv12, PixelFormat::yuy2}) {
    for (auto [width, height] : kSizes) {
      for (FrameRate rate : {kFastestRate, kSlowestRate}) {
        formats[i++] = CameraFormat{pixels, width, height, rate};
      }
    }
  }
  return formats;
}

}  // namespace detail

// In the order a camera lists them; the first is the default.
inline constexpr std::array<CameraFormat, 20> kCameraFormats = detail::list_formats();

// The offered format of this pixel format and size at `rate`: any rate from
// kSlowestRate to kFastestRate, as an application may ask for one within
// that range (29.97 included); none for another size or rate.
std::optional<CameraFormat> offered_format(PixelFormat pixels, uint32_t width, uint32_t height,
                                           FrameRate rate);

// One frame's time: how long each picture shows before the next is due.
std::chrono::nanoseconds frame_period(FrameRate rate);

// Bits a second of the format's pictures, uncompressed.
uint64_t bits_per_second(const CameraFormat& format);

// "NV12 1280x720 at 30 fps" (29.97 with two decimals), for the trace.
std::string describe(const CameraFormat& format);

}  // namespace korvex::picture
