#include "vcam/camera.hpp"

namespace korvex::vcam {

Result<std::unique_ptr<Camera>> start_camera(std::unique_ptr<Camera> camera) {
  if (auto started = camera->start(); !started) {
    return fail(started.error());
  }
  return camera;
}

}  // namespace korvex::vcam
