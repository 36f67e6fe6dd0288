#include <pipewire/extensions/metadata.h>
#include <spa/utils/dict.h>

#include <cstring>

#include "camera/pipewire_session_linux.hpp"
#include "doctor/linux_probes_linux.hpp"

namespace korvex::doctor {
namespace {

void keep(std::vector<std::string>& names, const spa_dict* props, const char* key) {
  const char* value = props == nullptr ? nullptr : spa_dict_lookup(props, key);
  if (value != nullptr) {
    names.emplace_back(value);
  }
}

}  // namespace

Result<PipeWireState> read_pipewire_state() {
  auto session = camera::PipeWireSession::connect();
  if (!session) {
    return fail(session.error());
  }
  PipeWireState state;
  pw_registry_events events{};
  events.version = PW_VERSION_REGISTRY_EVENTS;
  events.global = [](void* data, uint32_t, uint32_t, const char* type, uint32_t,
                     const spa_dict* props) {
    auto* found = static_cast<PipeWireState*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
      keep(found->nodes, props, PW_KEY_NODE_NAME);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
      keep(found->metadata, props, "metadata.name");
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
      keep(found->clients, props, PW_KEY_APP_NAME);
    }
  };
  camera::PipeWireSession::Lock lock(*session.value());
  pw_registry* registry = pw_core_get_registry(session.value()->core(), PW_VERSION_REGISTRY, 0);
  if (registry == nullptr) {
    return fail("PipeWire: registry: out of memory");
  }
  spa_hook listener{};
  pw_registry_add_listener(registry, &listener, &events, &state);
  if (auto answered = session.value()->await(reinterpret_cast<pw_proxy*>(registry), listener);
      !answered) {
    return fail(answered.error());
  }
  return state;
}

}  // namespace korvex::doctor
