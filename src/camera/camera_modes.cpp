#include "camera/camera_modes.hpp"

#include "platform/console.hpp"

namespace korvex::camera {
namespace {

Console process_console() {
  return {platform::write_stdout, platform::write_stderr};
}

}  // namespace

int run_list_cameras() {
  return report_cameras(list_cameras(), process_console());
}

int run_probe(const std::string& name, uint32_t frames,
              const std::optional<std::string>& dump_dir) {
  return probe_camera(list_cameras(), ProbeRequest{name, frames, dump_dir}, process_console());
}

}  // namespace korvex::camera
