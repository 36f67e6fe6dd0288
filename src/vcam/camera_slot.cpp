#include "vcam/camera_slot.hpp"

#include <utility>

namespace korvex::vcam {

void CameraSlot::keep(std::unique_ptr<Camera> camera) {
  std::unique_ptr<Camera> earlier;
  {
    std::lock_guard lock(mutex_);
    earlier = std::exchange(camera_, std::move(camera));
  }
  // `earlier` is released here, outside the lock.
}

void CameraSlot::shutdown() {
  // Held across the system call, so a second caller returns (and may end the
  // process) only once the camera is gone.
  std::lock_guard lock(mutex_);
  const std::unique_ptr<Camera> camera = std::move(camera_);
  if (camera) {
    camera->shutdown();
  }
}

}  // namespace korvex::vcam
