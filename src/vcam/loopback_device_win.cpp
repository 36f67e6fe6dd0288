// Windows has no v4l2loopback: its camera is the Media Foundation one alone.

#include "vcam/loopback_device.hpp"

namespace korvex::vcam {
namespace {

class NoVideoDevices final : public VideoDevices {
 public:
  std::vector<VideoDeviceInfo> list() override { return {}; }
  Result<std::unique_ptr<LoopbackDevice>> open(const std::string& path) override {
    return fail(path + ": no V4L2 devices on Windows");
  }
};

}  // namespace

std::unique_ptr<VideoDevices> system_video_devices() {
  return std::make_unique<NoVideoDevices>();
}

}  // namespace korvex::vcam
