#include "camera/camera_device.hpp"
#include "camera/pipewire_camera_linux.hpp"
#include "camera/v4l2_camera_linux.hpp"

namespace korvex::camera {

Result<std::vector<CameraInfo>> list_cameras() {
  std::vector<CameraInfo> cameras = list_v4l2_cameras(video_device_paths("/dev"), open_v4l2_device);
  for (CameraInfo& camera : list_pipewire_cameras()) {
    cameras.push_back(std::move(camera));
  }
  return cameras;
}

}  // namespace korvex::camera
