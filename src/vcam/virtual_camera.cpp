#include "vcam/virtual_camera.hpp"

#include "vcam/camera_slot.hpp"

namespace korvex::vcam {
namespace {

CameraSlot& process_slot() {
  static CameraSlot slot;
  return slot;
}

}  // namespace

void keep_virtual_camera(std::unique_ptr<Camera> camera) {
  process_slot().keep(std::move(camera));
}

void shutdown_virtual_camera() {
  process_slot().shutdown();
}

}  // namespace korvex::vcam
