#include "doctor/loopback_check.hpp"

#include <fmt/format.h>

#include "vcam/loopback_output.hpp"

namespace korvex::doctor {

Finding check_loopback(const std::vector<vcam::VideoDeviceInfo>& devices) {
  const vcam::VideoDeviceInfo* other = nullptr;
  for (const vcam::VideoDeviceInfo& device : devices) {
    if (!device.video_output) {
      continue;
    }
    if (device.card == vcam::kLoopbackCard) {
      return ok("v4l2loopback", fmt::format("{} is named \"{}\": programs that speak only V4L2 "
                                            "see the camera there",
                                            device.path, vcam::kLoopbackCard));
    }
    other = other == nullptr ? &device : other;
  }
  constexpr std::string_view kMake =
      "sudo modprobe v4l2loopback video_nr=10 card_label=Korvex exclusive_caps=1";
  if (other != nullptr) {
    return warning("v4l2loopback",
                   fmt::format("{} is named \"{}\", not \"{}\", so the receiver does not write "
                               "into it: sudo modprobe -r v4l2loopback, then {}",
                               other->path, other->card, vcam::kLoopbackCard, kMake));
  }
  return ok("v4l2loopback", fmt::format("none (only programs that speak nothing but V4L2 need "
                                        "one: run them with pw-v4l2, or {})",
                                        kMake));
}

}  // namespace korvex::doctor
