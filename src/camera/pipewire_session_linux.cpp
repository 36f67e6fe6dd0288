#include "camera/pipewire_session_linux.hpp"

namespace korvex::camera {
namespace {

constexpr int64_t kAnswerTimeNs = 2'000'000'000;

}  // namespace

Result<std::unique_ptr<PipeWireSession>> PipeWireSession::connect() {
  auto connection = pipewire::Connection::start();
  if (!connection) {
    return fail(connection.error());
  }
  std::unique_ptr<PipeWireSession> session(new PipeWireSession);
  session->connection_ = std::move(connection.value());
  PipeWireSession* self = session.get();
  auto connected = self->connection_->connect({
      .done = [self](int seq) { self->on_done(seq); },
      .error = [self](std::string text) { self->on_error(std::move(text)); },
  });
  if (!connected) {
    return fail(connected.error());
  }
  return session;
}

bool PipeWireSession::sync(int64_t limit_ns) {
  synced_ = false;
  pending_seq_ = pw_core_sync(core(), PW_ID_CORE, 0);
  return wait([this] { return synced_; }, limit_ns);
}

Result<void> PipeWireSession::await(pw_proxy* proxy, spa_hook& listener) {
  const bool answered = sync(kAnswerTimeNs);
  spa_hook_remove(&listener);
  pw_proxy_destroy(proxy);
  if (!error_.empty()) {
    return fail("PipeWire: " + error_);
  }
  if (!answered) {
    return fail("PipeWire: the server did not answer within 2 s");
  }
  return {};
}

void PipeWireSession::on_done(int seq) {
  if (seq == pending_seq_) {
    synced_ = true;
    signal();
  }
}

void PipeWireSession::on_error(std::string text) {
  if (error_.empty()) {
    error_ = std::move(text);
    signal();
  }
}

}  // namespace korvex::camera
