#pragma once

// --list-cameras and --probe-camera: what camera applications will see, and
// how fast one camera delivers, without any phone involved.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "camera/camera_device.hpp"
#include "common/result.hpp"

namespace korvex::camera {

// Where the modes write: standard output and standard error, or a test's buffers.
struct Console {
  std::function<void(std::string_view)> out;
  std::function<void(std::string_view)> err;
};

struct ProbeRequest {
  std::string name;
  uint32_t frames = 60;  // at least 1
  std::optional<std::string> dump_dir;
};

// "{n} camera(s):" and one "  \"{name}\"  {link}" line per camera, or
// "cameras: {error}"; returns the exit status.
int report_cameras(const Result<std::vector<CameraInfo>>& cameras, const Console& console);

// Chooses the camera, lists its media types, reads `frames` NV12 samples of
// its largest NV12 type, reports their rate and time span and dumps the
// first and last. Failures print "probe: {error}"; returns the exit status.
int probe_camera(Result<std::vector<CameraInfo>> cameras, const ProbeRequest& request,
                 const Console& console);

// The modes on the system's cameras and the process's console.
int run_list_cameras();
int run_probe(const std::string& name, uint32_t frames, const std::optional<std::string>& dump_dir);

}  // namespace korvex::camera
