#pragma once

// The "Korvex" camera device that applications see. The receiver does not
// produce its pictures: KorvexSource.dll, installed separately and registered
// under kSourceId, reads them from the frame section. The receiver asks the
// system to create a camera backed by that source for as long as it runs.

#include <memory>
#include <string_view>

#include "common/result.hpp"
#include "vcam/camera.hpp"

namespace korvex::vcam {

inline constexpr std::string_view kCameraName = "Korvex";
inline constexpr std::string_view kSourceId = "{F4467B1E-EB18-459B-87C2-42D42266FDEB}";

// Creates and starts the camera. Called once, by the main thread at startup;
// a failure is final for the run and leaves nothing behind.
Result<std::unique_ptr<Camera>> register_virtual_camera();

// Keeps the camera for the run, so that shutdown_virtual_camera can find it.
void keep_virtual_camera(std::unique_ptr<Camera> camera);

// Removes the kept camera from the system, if there is one. Safe from any
// thread and more than once; called just before the process ends.
void shutdown_virtual_camera();

}  // namespace korvex::vcam
