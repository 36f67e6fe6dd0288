#pragma once

// The "Korvex" camera device that applications see, for as long as the
// receiver runs. On Windows the receiver does not produce its pictures:
// KorvexSource.dll, installed separately and registered under kSourceId,
// reads them from the frame section, and the receiver asks the system to
// create a camera backed by that source. On Linux the receiver's own
// PipeWire node, named by kSourceId, serves them from the same section.

#include <memory>
#include <optional>
#include <string_view>

#include "common/result.hpp"
#include "vcam/camera.hpp"
#include "vcam/camera_slot.hpp"

namespace korvex::vcam {

// Applications list the Windows camera as "Korvex Windows Virtual Camera":
// the system appends "Windows Virtual Camera" to the name registered.
inline constexpr std::string_view kCameraName = "Korvex";
// The media source's class on Windows; "pipewire:{node name}" on Linux.
extern const std::string_view kSourceId;

// Creates and starts the camera. Called by the main thread at startup, where
// a failure is final for the run and leaves nothing behind, and again for a
// camera the system has lost.
Result<std::unique_ptr<Camera>> register_virtual_camera();

// Keeps the camera for the run, so that shutdown_virtual_camera can find it
// and tend_virtual_camera can register it again.
void keep_virtual_camera(std::unique_ptr<Camera> camera);

// The kept camera's state for the status line, once a second from the main
// thread, registering a lost camera again when it is time (CameraSlot).
std::optional<CameraSlot::Status> tend_virtual_camera();

// Removes the kept camera from the system, if there is one. Safe from any
// thread and more than once; called just before the process ends.
void shutdown_virtual_camera();

}  // namespace korvex::vcam
