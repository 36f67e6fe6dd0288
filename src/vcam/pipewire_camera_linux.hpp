#pragma once

// The camera on Linux: a node of the user's PipeWire server that camera
// applications (browsers, the desktop camera portal, OBS) open like any
// camera. The node drives its own clock and fills each buffer with the
// camera's picture, so it needs nothing of the receiver but the frame section.

#include <memory>
#include <string_view>

#include "common/result.hpp"
#include "vcam/camera.hpp"

namespace korvex::vcam {

inline constexpr std::string_view kNodeName = "korvex-camera";

// Connects to the server, on a PipeWire loop thread of the camera's own. The
// node appears on start(). Errors read "PipeWire: {cause}".
Result<std::unique_ptr<Camera>> connect_pipewire_camera();

}  // namespace korvex::vcam
