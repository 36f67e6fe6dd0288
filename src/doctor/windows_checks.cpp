#include "doctor/cable_check.hpp"
#include "doctor/camera_checks.hpp"
#include "doctor/checks.hpp"
#include "doctor/firewall_check.hpp"
#include "doctor/network_checks.hpp"
#include "doctor/receiver_check.hpp"

namespace korvex::doctor {

void check_windows(WindowsSystem& system, Report& report) {
  // Looked at before the camera source is loaded, which maps the section itself.
  const SectionState section = system.frame_section();
  const auto listeners = system.port_listeners();

  const FirewallState firewall = system.firewall();
  report.add(check_firewall(firewall));
  report.add(check_network_profile(firewall));
  report.add(check_discovery(system.responder()));
  report.add(check_addresses(system.addresses()));
  report.add(check_port(listeners));
  report.add(check_cable(*system.audio_host()));
  report.add(check_camera_source(system.camera_source()));
  report.add(check_camera_facility(system.camera_facility()));
  report.add(check_camera_privacy(system.camera_consent()));
  report.add(check_receiver(listeners, section, "start \"Korvex Receiver\" from the Start menu"));
}

}  // namespace korvex::doctor
