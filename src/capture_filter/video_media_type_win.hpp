#pragma once

// The offered formats as DirectShow describes them: a video media type with
// a VIDEOINFOHEADER, and the stream caps IAMStreamConfig hands out.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>

#include <optional>

#include "capture_filter/capture_formats.hpp"
#include "directshow/media_type_win.hpp"

namespace korvex::capture_filter {

// The FOURCC subtype {fourcc-0000-0010-8000-00AA00389B71}; MinGW has no I420.
GUID subtype_of(picture::PixelFormat pixels);

HRESULT make_media_type(const StreamChoice& choice, directshow::MediaType& out);

// The offered format and rate a program's media type asks for; nothing for
// another major type, format block or a format not offered.
std::optional<StreamChoice> choice_of(const AM_MEDIA_TYPE& type);

// Whether a partly given type (GUID_NULL where it leaves the choice open),
// as Connect may receive one, allows `choice`.
bool allows(const AM_MEDIA_TYPE& partial, const StreamChoice& choice);

VIDEO_STREAM_CONFIG_CAPS stream_caps(const CaptureFormat& format);

}  // namespace korvex::capture_filter
