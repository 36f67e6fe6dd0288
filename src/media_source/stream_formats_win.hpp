#pragma once

// The pictures the camera offers: NV12 at three sizes, then YUY2 at the same
// sizes for applications on the older capture path; all 30 frames a second.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <wrl/client.h>

#include <array>
#include <cstdint>
#include <optional>

#include "picture/camera_picture.hpp"

namespace korvex::media_source {

struct StreamFormat {
  picture::PixelFormat pixels = picture::PixelFormat::nv12;
  uint32_t width = 0;
  uint32_t height = 0;

  bool operator==(const StreamFormat&) const = default;
};

inline constexpr uint32_t kFramesPerSecond = 30;
inline constexpr LONGLONG kFrameDuration = 333333;  // 1/30 s in 100-ns units

// In the order of the stream's media types; the first is the default.
inline constexpr std::array<StreamFormat, 6> kStreamFormats = {{
    {picture::PixelFormat::nv12, 1920, 1080},
    {picture::PixelFormat::nv12, 1280, 720},
    {picture::PixelFormat::nv12, 640, 360},
    {picture::PixelFormat::yuy2, 1920, 1080},
    {picture::PixelFormat::yuy2, 1280, 720},
    {picture::PixelFormat::yuy2, 640, 360},
}};

// Bytes from one row to the next in a tightly packed picture.
uint32_t default_stride(const StreamFormat& format);

DWORD fourcc(picture::PixelFormat pixels);

HRESULT create_media_type(const StreamFormat& format, Microsoft::WRL::ComPtr<IMFMediaType>& out);

// The offered format a media type describes (by subtype and frame size), if any.
std::optional<StreamFormat> format_of(IMFMediaType* type);

}  // namespace korvex::media_source
