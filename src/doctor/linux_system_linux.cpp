#include "doctor/checks.hpp"
#include "doctor/linux_probes_linux.hpp"
#include "doctor/machine_answers.hpp"
#include "vcam/loopback_device.hpp"

namespace korvex::doctor {
namespace {

class ThisLinux final : public MachineAnswers<LinuxSystem> {
 public:
  Result<PipeWireState> pipewire() override { return read_pipewire_state(); }
  Result<PulseServer> pulse_server() override { return read_pulse_server(); }
  std::vector<vcam::VideoDeviceInfo> video_devices() override {
    return vcam::system_video_devices()->list();
  }
};

}  // namespace

void check_this_system(Report& report) {
  ThisLinux system;
  check_linux(system, report);
}

}  // namespace korvex::doctor
