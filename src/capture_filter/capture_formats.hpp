#pragma once

// What the DirectShow camera offers and which of it a program's request
// means: YUY2, NV12 and I420 at five sizes, at any frame rate from 15 to 30
// a second (30 unless asked). The pin's media types, its stream caps and its
// answer to SetFormat and QueryAccept all come from here.

#include <array>
#include <cstdint>
#include <optional>

#include "picture/camera_picture.hpp"

namespace korvex::capture_filter {

struct CaptureFormat {
  picture::PixelFormat pixels = picture::PixelFormat::yuy2;
  uint32_t width = 0;
  uint32_t height = 0;

  bool operator==(const CaptureFormat&) const = default;
};

// Frame intervals in 100-nanosecond units, DirectShow's REFERENCE_TIME.
inline constexpr int64_t kShortestInterval = 333333;  // 30 frames a second
inline constexpr int64_t kLongestInterval = 666667;   // 15

// Capability order; the first is what the pin connects with unless told.
// YUY2 leads because it is what webcams offer first and what every
// DirectShow program (and Windows' own colour converter) takes.
inline constexpr std::array<CaptureFormat, 15> kCaptureFormats = {{
    {picture::PixelFormat::yuy2, 1920, 1080},
    {picture::PixelFormat::yuy2, 1280, 720},
    {picture::PixelFormat::yuy2, 640, 480},
    {picture::PixelFormat::yuy2, 640, 360},
    {picture::PixelFormat::yuy2, 320, 240},
    {picture::PixelFormat::nv12, 1920, 1080},
    {picture::PixelFormat::nv12, 1280, 720},
    {picture::PixelFormat::nv12, 640, 480},
    {picture::PixelFormat::nv12, 640, 360},
    {picture::PixelFormat::nv12, 320, 240},
    {picture::PixelFormat::i420, 1920, 1080},
    {picture::PixelFormat::i420, 1280, 720},
    {picture::PixelFormat::i420, 640, 480},
    {picture::PixelFormat::i420, 640, 360},
    {picture::PixelFormat::i420, 320, 240},
}};

// One offered format at one frame interval: what the pin streams.
struct StreamChoice {
  CaptureFormat format;
  int64_t interval = kShortestInterval;

  bool operator==(const StreamChoice&) const = default;
};

inline constexpr StreamChoice kDefaultChoice{kCaptureFormats[0], kShortestInterval};

uint32_t fourcc(picture::PixelFormat pixels);
uint16_t bits_per_pixel(picture::PixelFormat pixels);
// Bytes of one picture, tightly packed: every sample's exact data length.
uint32_t image_size(const CaptureFormat& format);
// Bits a second at `interval`.
uint32_t bit_rate(const StreamChoice& choice);

// The video part of a program's media type, as the bitmap header and
// VIDEOINFOHEADER carry it.
struct VideoRequest {
  uint32_t fourcc = 0;
  uint16_t bit_count = 0;
  int32_t width = 0;
  int32_t height = 0;       // YUV is top-down whatever the sign
  uint32_t image_size = 0;  // 0: not given
  int64_t interval = 0;     // 0: not given, 30 a second
};

// The offered format the request names at the interval it asks for (kept
// inside 15 to 30 a second); nothing for a format, size or rate not offered.
std::optional<StreamChoice> choose(const VideoRequest& request);

}  // namespace korvex::capture_filter
