#include "vcam/pipewire_camera_linux.hpp"
#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {

const std::string_view kSourceId = "pipewire:korvex-camera";

Result<std::unique_ptr<Camera>> register_virtual_camera() {
  auto camera = connect_pipewire_camera();
  if (!camera) {
    return fail(camera.error());
  }
  return start_camera(std::move(camera.value()));
}

}  // namespace korvex::vcam
