#pragma once

// One camera picture as a Media Foundation sample.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <wrl/client.h>

#include "media_source/stream_formats_win.hpp"
#include "picture/camera_picture.hpp"

namespace korvex::media_source {

// Renders the current picture into a sample: one from `allocator` (the
// pipeline's, may be null) when it has one free whose buffer takes the
// picture, otherwise one of our own. Stamped with the system time and a frame
// period; `token` (may be null) is attached as the request's token.
HRESULT make_picture_sample(const StreamFormat& format, IMFVideoSampleAllocator* allocator,
                            IUnknown* token, picture::CameraPicture& picture,
                            Microsoft::WRL::ComPtr<IMFSample>& out);

}  // namespace korvex::media_source
