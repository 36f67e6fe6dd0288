#include "doctor/cable_check.hpp"
#include "doctor/checks.hpp"
#include "doctor/loopback_check.hpp"
#include "doctor/network_checks.hpp"
#include "doctor/receiver_check.hpp"
#include "doctor/sound_server_checks.hpp"

namespace korvex::doctor {

void check_linux(LinuxSystem& system, Report& report) {
  const auto pipewire = system.pipewire();
  report.add(check_pipewire(pipewire));
  if (pipewire) {
    report.add(check_session_manager(pipewire.value()));
  }
  const auto pulse = system.pulse_server();
  report.add(check_pulse(pipewire.ok(), pulse));
  if (!pipewire && pulse) {
    // Without PipeWire the receiver plays into a sink, "CABLE Input" unless told otherwise.
    report.add(check_cable(*system.audio_host()));
  }
  report.add(check_discovery(system.responder()));
  report.add(check_addresses(system.addresses()));
  const auto listeners = system.port_listeners();
  report.add(check_port(listeners));
  report.add(check_loopback(system.video_devices()));
  report.add(check_receiver(listeners, system.frame_section(), "start korvex-receiver"));
  if (pipewire && receiver_runs(listeners)) {
    report.add(check_receiver_nodes(pipewire.value()));
  }
}

}  // namespace korvex::doctor
