#pragma once

// The PipeWire server's cameras as cameras of the listing and the probe:
// nodes of class "Video/Source" in the role "Camera", named by their
// description and linked as "pipewire:{node.name}", read through an input
// stream of the probe's own.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_device.hpp"
#include "camera/pipewire_session_linux.hpp"
#include "common/result.hpp"

namespace korvex::camera {

// One camera node as the server announces it.
struct CameraNode {
  uint32_t id = 0;
  std::string name;         // node.name
  std::string description;  // node.description
};

// The camera nodes the server has, in its order; with the session locked.
// Fails when the server does not answer in time.
Result<std::vector<CameraNode>> find_camera_nodes(PipeWireSession& session);

// The cameras of the user's PipeWire server; none when no server answers, so
// a system without PipeWire lists what it has otherwise.
std::vector<CameraInfo> list_pipewire_cameras();

// A reader of the camera node named `node_name`.
Result<std::unique_ptr<Reader>> open_pipewire_camera(const std::string& node_name);

}  // namespace korvex::camera
