#pragma once

// The cameras only DirectShow lists (software capture filters such as the
// receiver's own on Windows 10), as cameras of the listing and the probe:
// each one read through a grabber graph of its own.

#include <vector>

#include "camera/camera_device.hpp"
#include "common/result.hpp"

namespace korvex::camera {

// Appends the DirectShow video capture devices that `cameras` (Media
// Foundation's) does not already hold: hardware appears in both with the
// same device path, and is listed once.
Result<void> append_directshow_cameras(std::vector<CameraInfo>& cameras);

}  // namespace korvex::camera
