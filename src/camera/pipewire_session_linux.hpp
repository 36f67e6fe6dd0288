#pragma once

// The PipeWire connection of the camera listing and the probe. Everything
// that touches the server's objects runs with the loop locked (Lock), and
// every wait for the server is bounded, so a silent server cannot hang a
// one-shot mode.

#include <pipewire/pipewire.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/result.hpp"
#include "pipewire/connection_linux.hpp"

namespace korvex::camera {

class PipeWireSession {
 public:
  // Fails with "PipeWire: {cause}", among others when no server runs.
  static Result<std::unique_ptr<PipeWireSession>> connect();
  ~PipeWireSession() = default;
  PipeWireSession(const PipeWireSession&) = delete;
  PipeWireSession& operator=(const PipeWireSession&) = delete;

  // Holds the loop's lock for its scope.
  class Lock {
   public:
    explicit Lock(PipeWireSession& session) : held_(*session.connection_) {}

   private:
    pipewire::Connection::Lock held_;
  };

  // With the lock held.
  pw_core* core() const { return connection_->core(); }
  pw_loop* loop() const { return connection_->loop(); }
  // The server's first error, empty while there is none.
  const std::string& error() const { return error_; }
  // Wakes a wait(); for events that change what it waits for.
  void signal() { connection_->signal(); }
  // Waits, lock held, until `done()` holds, the server fails or `limit_ns`
  // has passed; says whether `done()` held.
  template <class Done>
  bool wait(Done done, int64_t limit_ns) {
    connection_->wait([&] { return done() || !error_.empty(); }, limit_ns);
    return done();
  }
  // A round trip: once it returns true, every event of what was asked before
  // has come.
  bool sync(int64_t limit_ns);
  // Waits up to 2 s for the answers to what was asked of `proxy`, whose
  // events come to `listener`; then removes the listener and destroys the
  // proxy. Fails with "PipeWire: {server error}" or "PipeWire: the server did
  // not answer within 2 s".
  Result<void> await(pw_proxy* proxy, spa_hook& listener);

 private:
  PipeWireSession() = default;
  void on_done(int seq);
  void on_error(std::string text);

  int pending_seq_ = -1;
  bool synced_ = false;
  std::string error_;
  // Last, so that it goes first: no event comes once it is gone.
  std::unique_ptr<pipewire::Connection> connection_;
};

}  // namespace korvex::camera
