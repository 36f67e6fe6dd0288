#include "doctor/camera_checks.hpp"

#include <fmt/format.h>

namespace korvex::doctor {
namespace {

constexpr std::string_view kReinstall = "reinstall Korvex";

bool denied(const std::optional<std::string>& value) {
  return value && *value == "Deny";
}

}  // namespace

Finding check_camera_source(const SourceState& source) {
  if (!source.server) {
    return problem("camera source", fmt::format("KorvexSource.dll is not registered: {}, or as "
                                                "administrator run regsvr32 \"C:\\Program "
                                                "Files\\Korvex\\KorvexSource.dll\"",
                                                kReinstall));
  }
  if (!source.server_exists) {
    return problem("camera source", fmt::format("the camera's class points at {}, which is not "
                                                "there: {}",
                                                *source.server, kReinstall));
  }
  if (!source.media_types) {
    return problem("camera source",
                   fmt::format("{} is registered but does not load ({}): {}", *source.server,
                               source.media_types.error(), kReinstall));
  }
  const auto& types = source.media_types.value();
  if (types.empty()) {
    return problem("camera source", fmt::format("{} loads but offers no picture format: {}",
                                                *source.server, kReinstall));
  }
  return ok("camera source", fmt::format("{} loads and offers {} picture formats ({} first)",
                                         *source.server, types.size(), types.front()));
}

Finding check_camera_facility(const CameraFacility& facility) {
  if (facility.virtual_camera) {
    return ok("camera",
              "Windows 11's virtual camera is there: while the receiver runs, programs "
              "list \"Korvex Windows Virtual Camera\"");
  }
  if (!facility.filter_server) {
    return problem("camera", fmt::format("this Windows has no virtual camera (Windows 11, build "
                                         "22000 or later) and the DirectShow camera \"Korvex\" "
                                         "is not registered: {}",
                                         kReinstall));
  }
  if (!facility.filter_server_exists) {
    return problem("camera", fmt::format("the DirectShow camera \"Korvex\" points at {}, which "
                                         "is not there: {}",
                                         *facility.filter_server, kReinstall));
  }
  return ok("camera", fmt::format("the DirectShow camera \"Korvex\" is registered for {}: "
                                  "programs that use DirectShow cameras list it (the Camera app "
                                  "does not)",
                                  facility.filter_for_32_bit ? "64-bit and 32-bit programs"
                                                             : "64-bit programs"));
}

Finding check_camera_privacy(const CameraConsent& consent) {
  constexpr std::string_view kSettings =
      "Settings > Privacy & security > Camera (Windows 10: Settings > Privacy > Camera)";
  if (denied(consent.device)) {
    return problem("camera privacy",
                   fmt::format("camera access is off for this device: turn on \"Camera access\" in "
                               "{} (an administrator can)",
                               kSettings));
  }
  if (denied(consent.apps)) {
    return problem("camera privacy", fmt::format("apps may not use the camera: turn on \"Let apps "
                                                 "access your camera\" in {}",
                                                 kSettings));
  }
  if (denied(consent.desktop_apps)) {
    return problem("camera privacy",
                   fmt::format("desktop programs (call programs, browsers, OBS) may not use the "
                               "camera: turn on \"Let desktop apps access your camera\" in {}",
                               kSettings));
  }
  return ok("camera privacy", "apps and desktop programs may use the camera");
}

}  // namespace korvex::doctor
