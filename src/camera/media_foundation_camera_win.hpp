#pragma once

// A Media Foundation activation object as a camera of the listing and the
// probe: its media source read through a source reader.

#include <windows.h>
// windows.h must come first.
#include <mfobjects.h>
#include <wrl/client.h>

#include <memory>

#include "camera/camera_device.hpp"

namespace korvex::camera {

// Takes over `activate`; any video source's activation object will do, a
// capture device's or a media source DLL's.
std::unique_ptr<Activation> media_foundation_activation(
    Microsoft::WRL::ComPtr<IMFActivate> activate);

}  // namespace korvex::camera
