#include "vcam/camera_slot.hpp"

#include <utility>

namespace korvex::vcam {

void CameraSlot::keep(std::unique_ptr<Camera> camera, Registrar register_again,
                      Clock::time_point registered_at) {
  std::unique_ptr<Camera> earlier;
  {
    std::lock_guard lock(mutex_);
    earlier = std::exchange(camera_, std::move(camera));
    register_again_ = std::move(register_again);
    last_attempt_ = registered_at;
    replacing_ = false;
    last_failure_.clear();
  }
  // `earlier` is released here, outside the lock.
}

std::optional<CameraSlot::Status> CameraSlot::tend(Clock::time_point now) {
  // Held across the registration, so that a shutdown meanwhile waits for it
  // and then removes the new camera.
  std::lock_guard lock(mutex_);
  if (!camera_ && !replacing_) {
    return std::nullopt;
  }
  const CameraState state = camera_ ? camera_->state() : CameraState::lost;
  if (state != CameraState::lost || !register_again_ || now - last_attempt_ < kRegisterAgainAfter) {
    return Status{state_text(state), std::nullopt};
  }
  last_attempt_ = now;
  if (camera_) {
    // The system's object of a lost camera is dead; removing it first keeps
    // a second camera of the same name from appearing beside it.
    camera_->shutdown();
    camera_.reset();
    replacing_ = true;
  }
  Result<std::unique_ptr<Camera>> again = register_again_();
  if (!again) {
    std::optional<std::string> news;
    if (again.error() != last_failure_) {
      last_failure_ = again.error();
      news = "virtual camera: registering it again: " + again.error();
    }
    return Status{state_text(CameraState::lost), std::move(news)};
  }
  camera_ = std::move(again.value());
  replacing_ = false;
  last_failure_.clear();
  return Status{state_text(camera_->state()),
                "virtual camera: registered again after the camera service lost it"};
}

void CameraSlot::shutdown() {
  // Held across the system call, so a second caller returns (and may end the
  // process) only once the camera is gone.
  std::lock_guard lock(mutex_);
  const std::unique_ptr<Camera> camera = std::move(camera_);
  replacing_ = false;  // the run is ending: nothing is registered again
  if (camera) {
    camera->shutdown();
  }
}

}  // namespace korvex::vcam
