#include <fmt/format.h>

#include "camera/camera_modes.hpp"

namespace korvex::camera {

int report_cameras(const Result<std::vector<CameraInfo>>& cameras, const Console& console) {
  if (!cameras) {
    console.err(fmt::format("cameras: {}\n", cameras.error()));
    return 1;
  }
  std::string text = fmt::format("{} camera(s):\n", cameras->size());
  for (const CameraInfo& camera : cameras.value()) {
    text += fmt::format("  \"{}\"  {}\n", camera.name, camera.link);
  }
  console.out(text);
  return 0;
}

}  // namespace korvex::camera
