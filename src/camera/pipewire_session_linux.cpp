#include "camera/pipewire_session_linux.hpp"

#include <spa/utils/result.h>

#include <fmt/format.h>

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
  auto connection = pipewire::Connection::start();
  if (!connection) {
    return fail(connection.error());
  }
  std::unique_ptr<PipeWireSession> session(new PipeWireSession);
  session->connection_ = std::move(connection.value());
  if (auto connected = session->connection_->connect(kCoreEvents, session.get()); !connected) {
    return fail(connected.error());
  }
  return session;
}

bool PipeWireSession::sync(int64_t limit_ns) {
  synced_ = false;
  pending_seq_ = pw_core_sync(core(), PW_ID_CORE, 0);
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
