#pragma once

// The camera's formats (picture/camera_formats.hpp) as Media Foundation
// media types, and back.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <optional>

#include "picture/camera_formats.hpp"

namespace korvex::media_source {

using StreamFormat = picture::CameraFormat;

// Bytes from one row to the next in a tightly packed picture.
uint32_t default_stride(const StreamFormat& format);

DWORD fourcc(picture::PixelFormat pixels);

// A frame's duration in 100-ns units.
LONGLONG frame_duration(const StreamFormat& format);

HRESULT create_media_type(const StreamFormat& format, Microsoft::WRL::ComPtr<IMFMediaType>& out);

// The offered format a media type describes (by subtype, frame size and
// frame rate, 30 fps when it names none), if any.
std::optional<StreamFormat> format_of(IMFMediaType* type);

}  // namespace korvex::media_source
