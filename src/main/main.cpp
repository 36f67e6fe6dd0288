// korvex-receiver: turns an iPhone running the Korvex sender app into a
// webcam and microphone for this computer.

#include <type_traits>
#include <variant>

#include "audio/device_modes.hpp"
#include "camera/camera_modes.hpp"
#include "main/autostart.hpp"
#include "main/help.hpp"
#include "main/receiver.hpp"
#include "main/settings.hpp"
#include "platform/console.hpp"

namespace {

using namespace korvex::main;
using korvex::audio::check_output_device;
using korvex::audio::list_output_devices;
namespace platform = korvex::platform;

// Runs the one mode the command line asked for and returns its exit status.
int run(const Mode& mode) {
  return std::visit(
      [](const auto& m) -> int {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, mode::Help>) {
          print_help();
          return 0;
        } else if constexpr (std::is_same_v<M, mode::ListDevices>) {
          return list_output_devices();
        } else if constexpr (std::is_same_v<M, mode::CheckDevice>) {
          return check_output_device(m.name);
        } else if constexpr (std::is_same_v<M, mode::ListCameras>) {
          return korvex::camera::run_list_cameras();
        } else if constexpr (std::is_same_v<M, mode::ProbeCamera>) {
          return korvex::camera::run_probe(m.name, m.frames, m.dump_frames);
        } else {
          if (m.settings.autostart != Autostart::absent) {
            return set_autostart(m.settings, m.settings.autostart == Autostart::on);
          }
          run_receiver(m.settings);
        }
      },
      mode);
}

int run(int argc, char** argv) {
  const auto parsed = parse_args(platform::command_line_arguments(argc, argv));
  if (!parsed) {
    platform::write_stderr(parsed.error() + "\n\n");
    print_help();
    return 2;
  }
  return run(parsed.value());
}

}  // namespace

int main(int argc, char** argv) {
  return run(argc, argv);
}
