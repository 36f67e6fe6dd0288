#include <spa/utils/dict.h>

#include <cstring>

#include "camera/pipewire_camera_linux.hpp"

namespace korvex::camera {
namespace {

bool has(const spa_dict* props, const char* key, const char* value) {
  const char* found = spa_dict_lookup(props, key);
  return found != nullptr && std::strcmp(found, value) == 0;
}

class PipeWireActivation final : public Activation {
 public:
  explicit PipeWireActivation(std::string node_name) : node_name_(std::move(node_name)) {}
  Result<std::unique_ptr<Reader>> activate() override { return open_pipewire_camera(node_name_); }

 private:
  std::string node_name_;
};

}  // namespace

Result<std::vector<CameraNode>> find_camera_nodes(PipeWireSession& session) {
  std::vector<CameraNode> nodes;
  pw_registry_events events{};
  events.version = PW_VERSION_REGISTRY_EVENTS;
  events.global = [](void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                     const spa_dict* props) {
    if (props == nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 ||
        !has(props, PW_KEY_MEDIA_CLASS, "Video/Source") ||
        !has(props, PW_KEY_MEDIA_ROLE, "Camera")) {
      return;
    }
    const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
    const char* description = spa_dict_lookup(props, PW_KEY_NODE_DESCRIPTION);
    static_cast<std::vector<CameraNode>*>(data)->push_back(
        {id, name != nullptr ? name : "", description != nullptr ? description : ""});
  };
  pw_registry* registry = pw_core_get_registry(session.core(), PW_VERSION_REGISTRY, 0);
  if (registry == nullptr) {
    return fail("PipeWire: registry: out of memory");
  }
  spa_hook listener{};
  pw_registry_add_listener(registry, &listener, &events, &nodes);
  if (auto answered = session.await(reinterpret_cast<pw_proxy*>(registry), listener); !answered) {
    return fail(answered.error());
  }
  return nodes;
}

std::vector<CameraInfo> list_pipewire_cameras() {
  Result<std::unique_ptr<PipeWireSession>> session = PipeWireSession::connect();
  if (!session) {
    return {};
  }
  std::vector<CameraInfo> cameras;
  PipeWireSession::Lock lock(*session.value());
  Result<std::vector<CameraNode>> nodes = find_camera_nodes(*session.value());
  if (!nodes) {
    return {};
  }
  for (CameraNode& node : nodes.value()) {
    cameras.push_back({std::move(node.description), "pipewire:" + node.name,
                       std::make_unique<PipeWireActivation>(node.name)});
  }
  return cameras;
}

}  // namespace korvex::camera
