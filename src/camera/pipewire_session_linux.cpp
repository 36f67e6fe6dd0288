#include "camera/pipewire_session_linux.hpp"

#include <spa/utils/result.h>

#include <cerrno>

#include <fmt/format.h>

#include "platform/os_error.hpp"

namespace korvex::camera {

const pw_core_events PipeWireSession::kCoreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.done = [](void* self, uint32_t id, int seq) {
    static_cast<PipeWireSession*>(self)->on_done(id, seq);
  };
  events.error = [](void* self, uint32_t id, int, int res, const char* message) {
    static_cast<PipeWireSession*>(self)->on_error(id, res, message);
  };
  return events;
}();

Result<std::unique_ptr<PipeWireSession>> PipeWireSession::connect() {
  pw_init(nullptr, nullptr);
  std::unique_ptr<PipeWireSession> session(new PipeWireSession);
  session->loop_ = pw_thread_loop_new("pipewire", nullptr);
  if (session->loop_ == nullptr) {
    return fail("PipeWire: loop: " + platform::last_os_error_text());
  }
  session->context_ = pw_context_new(pw_thread_loop_get_loop(session->loop_), nullptr, 0);
  if (session->context_ == nullptr) {
    return fail("PipeWire: context: " + platform::last_os_error_text());
  }
  if (pw_thread_loop_start(session->loop_) != 0) {
    return fail("PipeWire: loop thread: " + platform::last_os_error_text());
  }
  Lock lock(*session);
  session->core_ = pw_context_connect(session->context_, nullptr, 0);
  if (session->core_ == nullptr) {
    return fail("PipeWire: no server to connect to: " + platform::os_error_text(errno));
  }
  pw_core_add_listener(session->core_, &session->core_listener_, &kCoreEvents, session.get());
  return session;
}

PipeWireSession::~PipeWireSession() {
  if (loop_ != nullptr) {
    pw_thread_loop_lock(loop_);
    if (core_ != nullptr) {
      spa_hook_remove(&core_listener_);
      pw_core_disconnect(core_);
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
  }
  if (context_ != nullptr) {
    pw_context_destroy(context_);
  }
  if (loop_ != nullptr) {
    pw_thread_loop_destroy(loop_);
  }
}

bool PipeWireSession::sync(int64_t limit_ns) {
  synced_ = false;
  pending_seq_ = pw_core_sync(core_, PW_ID_CORE, 0);
  return wait([this] { return synced_; }, limit_ns);
}

void PipeWireSession::on_done(uint32_t id, int seq) {
  if (id == PW_ID_CORE && seq == pending_seq_) {
    synced_ = true;
    signal();
  }
}

void PipeWireSession::on_error(uint32_t id, int res, const char* message) {
  if (id == PW_ID_CORE && error_.empty()) {
    error_ =
        fmt::format("{}: {}", message != nullptr ? message : "server error", spa_strerror(res));
    signal();
  }
}

}  // namespace korvex::camera
