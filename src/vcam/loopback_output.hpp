#pragma once

// A second, optional way out for the camera's picture: programs that speak
// only V4L2 read a v4l2loopback device. When one whose card name is "Korvex"
// exists, the receiver writes the same picture the camera shows into it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "picture/camera_picture.hpp"
#include "vcam/loopback_device.hpp"

namespace korvex::vcam {

inline constexpr std::string_view kLoopbackCard = "Korvex";
inline constexpr uint32_t kLoopbackWidth = 1280;
inline constexpr uint32_t kLoopbackHeight = 720;

class LoopbackOutput {
 public:
  // Opens the first output device named kLoopbackCard and sets its format;
  // null when there is none. Errors read "{path}: {cause}".
  static Result<std::unique_ptr<LoopbackOutput>> open(VideoDevices& devices,
                                                      picture::CameraPicture picture);

  const std::string& path() const { return path_; }

  // Renders the picture of the moment and writes it. Errors read "{path}: {cause}".
  Result<void> write_next();

 private:
  LoopbackOutput(std::string path, std::unique_ptr<LoopbackDevice> device,
                 picture::CameraPicture picture);

  std::string path_;
  std::unique_ptr<LoopbackDevice> device_;
  picture::CameraPicture picture_;
  std::vector<uint8_t> buffer_;  // one NV12 picture
};

// Starts the system's loopback output, if there is a device for it, on a
// thread of its own that writes 30 pictures a second for the rest of the run
// and stops, with a line on standard error, when the device fails. Returns
// the device's path, nothing when there is no device, or why it cannot be used.
Result<std::optional<std::string>> start_loopback_output();

}  // namespace korvex::vcam
