#pragma once

// The v4l2loopback device through which programs that speak only V4L2 see
// the camera.

#include <vector>

#include "doctor/report.hpp"
#include "vcam/loopback_device.hpp"

namespace korvex::doctor {

Finding check_loopback(const std::vector<vcam::VideoDeviceInfo>& devices);

}  // namespace korvex::doctor
