#pragma once

// What the Windows checks ask beyond the shared questions: the firewall, the
// camera's registrations and the camera privacy settings.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.hpp"
#include "doctor/system.hpp"

namespace korvex::doctor {

// Windows Firewall's profiles, as INetFwPolicy2 numbers them.
inline constexpr uint32_t kDomainProfile = 1;
inline constexpr uint32_t kPrivateProfile = 2;
inline constexpr uint32_t kPublicProfile = 4;

// One rule as Windows Firewall keeps it.
struct FirewallRule {
  std::string name;
  bool inbound = false;
  bool enabled = false;
  bool allow = false;
  int32_t protocol = 0;     // 6 TCP, 256 any
  std::string local_ports;  // "45334", "*", "80,45000-46000"; empty for any
  std::string application;  // the program's full path; empty for every program
  uint32_t profiles = 0;    // the profile bits above
};

struct FirewallState {
  // The profiles of the networks this PC is on now.
  Result<uint32_t> current_profiles = fail("not read");
  // Whether the firewall is on for any of them (all three when they are unknown).
  Result<bool> enabled = fail("not read");
  // "Block all incoming connections" on one of them.
  bool blocks_all_inbound = false;
  Result<std::vector<FirewallRule>> rules = fail("not read");
};

// The camera's media source, KorvexSource.dll, as COM finds it.
struct SourceState {
  // Its class's InprocServer32 in the 64-bit registry; none when not registered.
  std::optional<std::string> server;
  bool server_exists = false;
  // The media types of the source made from the class: "NV12 1920x1080 @ 30 fps".
  Result<std::vector<std::string>> media_types = fail("not loaded");
};

// What shows the camera to programs.
struct CameraFacility {
  // Windows 11's virtual camera (mfsensorgroup.dll's MFCreateVirtualCamera).
  bool virtual_camera = false;
  // The DirectShow capture filter "Korvex" in the video input device
  // category; its InprocServer32 in the 64-bit registry, none when absent.
  std::optional<std::string> filter_server;
  bool filter_server_exists = false;
  bool filter_for_32_bit = false;  // registered in the 32-bit view as well
};

// The camera privacy settings (the capability consent store's "Value"):
// "Allow", "Deny", or none when not set (which allows).
struct CameraConsent {
  std::optional<std::string> device;        // HKLM: camera access on this device
  std::optional<std::string> apps;          // HKCU: apps may use the camera
  std::optional<std::string> desktop_apps;  // HKCU NonPackaged: desktop programs may
};

class WindowsSystem : public System {
 public:
  virtual FirewallState firewall() = 0;
  virtual SourceState camera_source() = 0;
  virtual CameraFacility camera_facility() = 0;
  virtual CameraConsent camera_consent() = 0;
};

}  // namespace korvex::doctor
