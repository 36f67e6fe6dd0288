#pragma once

// What a camera program needs on Windows: the media source registered and
// loadable, a facility that shows the camera, and privacy settings that let
// programs use it.

#include "doctor/report.hpp"
#include "doctor/windows_system.hpp"

namespace korvex::doctor {

Finding check_camera_source(const SourceState& source);
Finding check_camera_facility(const CameraFacility& facility);
Finding check_camera_privacy(const CameraConsent& consent);

}  // namespace korvex::doctor
