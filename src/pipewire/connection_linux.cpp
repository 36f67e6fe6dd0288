#include "pipewire/connection_linux.hpp"

#include <spa/utils/result.h>

#include <cerrno>

#include "platform/os_error.hpp"

namespace korvex::pipewire {

const pw_core_events Connection::kCoreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.done = [](void* self, uint32_t id, int seq) {
    if (id == PW_ID_CORE) {
      static_cast<Connection*>(self)->core_events_.done(seq);
    }
  };
  events.error = [](void* self, uint32_t id, int, int res, const char* message) {
    if (id == PW_ID_CORE) {
      static_cast<Connection*>(self)->core_events_.error(
          std::string(message != nullptr ? message : "server error") + ": " + spa_strerror(res));
    }
  };
  return events;
}();

Result<std::unique_ptr<Connection>> Connection::start() {
  pw_init(nullptr, nullptr);
  std::unique_ptr<Connection> connection(new Connection);
  connection->thread_loop_ = pw_thread_loop_new("pipewire", nullptr);
  if (connection->thread_loop_ == nullptr) {
    return fail("PipeWire: loop: " + platform::last_os_error_text());
  }
  // The real-time client configuration: the data loop, where the microphone
  // renders and keeps the graph's time, gets a real-time priority where the
  // system allows. Streams that process on the loop thread are not affected.
  connection->context_ = pw_context_new(
      connection->loop(), pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
  if (connection->context_ == nullptr) {
    return fail("PipeWire: context: " + platform::last_os_error_text());
  }
  if (pw_thread_loop_start(connection->thread_loop_) != 0) {
    return fail("PipeWire: loop thread: " + platform::last_os_error_text());
  }
  return connection;
}

Result<void> Connection::connect(CoreEvents events) {
  Lock lock(*this);
  core_ = pw_context_connect(context_, nullptr, 0);
  if (core_ == nullptr) {
    return fail("PipeWire: no server to connect to: " + platform::os_error_text(errno));
  }
  core_events_ = std::move(events);
  pw_core_add_listener(core_, &core_listener_, &kCoreEvents, this);
  return {};
}

Connection::~Connection() {
  if (thread_loop_ != nullptr) {
    pw_thread_loop_lock(thread_loop_);
    if (core_ != nullptr) {
      spa_hook_remove(&core_listener_);
      pw_core_disconnect(core_);
    }
    pw_thread_loop_unlock(thread_loop_);
    pw_thread_loop_stop(thread_loop_);
  }
  if (context_ != nullptr) {
    pw_context_destroy(context_);
  }
  if (thread_loop_ != nullptr) {
    pw_thread_loop_destroy(thread_loop_);
  }
}

}  // namespace korvex::pipewire
