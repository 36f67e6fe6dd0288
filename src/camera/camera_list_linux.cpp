#include "camera/camera_device.hpp"
#include "camera/v4l2_camera_linux.hpp"

namespace korvex::camera {

Result<std::vector<CameraInfo>> list_cameras() {
  return list_v4l2_cameras(video_device_paths("/dev"), open_v4l2_device);
}

}  // namespace korvex::camera
