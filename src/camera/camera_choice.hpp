#pragma once

// Which camera and which of its media types the probe uses.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "camera/camera_device.hpp"
#include "common/result.hpp"

namespace korvex::camera {

// The first camera named `name` with ASCII letters compared without regard
// to case; else the first whose name contains it, likewise (so an empty name
// takes the first camera); else "no camera named \"{}\"; found: {names}".
Result<size_t> choose_camera(const std::vector<CameraInfo>& cameras, std::string_view name);

// The NV12 type of the largest area, the first of equal ones. Without NV12,
// and only when `yuy2_too`, the YUY2 type chosen the same way.
std::optional<size_t> choose_type(const std::vector<MediaType>& types, bool yuy2_too);

}  // namespace korvex::camera
