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
  process_slot().keep(std::move(camera), register_virtual_camera);
}

std::optional<CameraSlot::Status> tend_virtual_camera() {
  return process_slot().tend(CameraSlot::Clock::now());
}

void shutdown_virtual_camera() {
  process_slot().shutdown();
}

}  // namespace korvex::vcam
