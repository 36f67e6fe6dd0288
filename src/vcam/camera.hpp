#pragma once

// The system side of the virtual camera, behind the few calls the receiver
// makes: Media Foundation's virtual camera on Windows
// (virtual_camera_win.cpp), a PipeWire camera node on Linux
// (pipewire_camera_linux.cpp).

#include <memory>

#include "common/result.hpp"
#include "vcam/camera_state.hpp"

namespace korvex::vcam {

// A created camera. Destroying it releases the system's object; only
// shutdown() removes the camera from the system first.
class Camera {
 public:
  virtual ~Camera() = default;
  // Makes the camera visible to applications; the error is the whole text.
  virtual Result<void> start() = 0;
  // Removes the camera; a failure is of no use to a process about to end.
  virtual void shutdown() = 0;
  // What the system last said of the camera; one that never reports stays
  // registered.
  virtual CameraState state() const { return CameraState::registered; }
};

// Starts a created camera. One that fails to start is released at once, so a
// failed registration holds nothing.
Result<std::unique_ptr<Camera>> start_camera(std::unique_ptr<Camera> camera);

}  // namespace korvex::vcam
