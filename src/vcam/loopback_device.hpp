#pragma once

// Video output devices of the system, as far as the loopback output needs
// them: V4L2 devices on Linux (v4l2loopback makes them), none on Windows.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace korvex::vcam {

struct VideoDeviceInfo {
  std::string path;
  std::string card;           // the driver's card name: v4l2loopback's card_label
  bool video_output = false;  // accepts pictures written to it
};

// One opened device.
class LoopbackDevice {
 public:
  virtual ~LoopbackDevice() = default;
  // Sets the output format: NV12 of this size, rows packed.
  virtual Result<void> set_nv12_format(uint32_t width, uint32_t height) = 0;
  // Writes one whole picture.
  virtual Result<void> write_picture(std::span<const uint8_t> picture) = 0;
};

class VideoDevices {
 public:
  virtual ~VideoDevices() = default;
  virtual std::vector<VideoDeviceInfo> list() = 0;
  virtual Result<std::unique_ptr<LoopbackDevice>> open(const std::string& path) = 0;
};

std::unique_ptr<VideoDevices> system_video_devices();

}  // namespace korvex::vcam
