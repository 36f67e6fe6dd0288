#pragma once

// A connection to the user's PipeWire server on a loop thread of its own, the
// part every PipeWire client of the program shares: the thread loop, the
// context and the core, torn down in the order the library needs.

#include <pipewire/pipewire.h>

#include <functional>
#include <memory>
#include <string>

#include "common/result.hpp"

namespace korvex::pipewire {

// What the server says of the core, on the loop thread with its lock held.
struct CoreEvents {
  std::function<void(int seq)> done;            // the answer to pw_core_sync's `seq`
  std::function<void(std::string text)> error;  // "{message}: {cause}"
};

class Connection {
 public:
  // Starts the loop thread. Fails with "PipeWire: {cause}".
  static Result<std::unique_ptr<Connection>> start();
  // Connects to the server; `events` come from then until the connection is
  // destroyed. Kept apart from start() so that the owner holds the connection
  // before the first event can come. Fails with "PipeWire: no server to
  // connect to: {cause}".
  Result<void> connect(CoreEvents events);
  // Disconnects, then stops and waits for the loop thread.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Holds the loop's lock for its scope.
  class Lock {
   public:
    explicit Lock(Connection& connection) : loop_(connection.thread_loop_) {
      pw_thread_loop_lock(loop_);
    }
    ~Lock() { pw_thread_loop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pw_thread_loop* loop_;
  };

  pw_thread_loop* thread_loop() const { return thread_loop_; }
  pw_loop* loop() const { return pw_thread_loop_get_loop(thread_loop_); }
  // With the lock held.
  pw_core* core() const { return core_; }

 private:
  Connection() = default;

  static const pw_core_events kCoreEvents;

  pw_thread_loop* thread_loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  spa_hook core_listener_{};
  CoreEvents core_events_;  // set once, before the listener is added
};

}  // namespace korvex::pipewire
