#pragma once

// A connection to the user's PipeWire server on a loop thread of its own, the
// part every PipeWire client of the program shares: the thread loop, the
// context and the core, torn down in the order the library needs, and the one
// bounded wait for the server's answers.

#include <pipewire/pipewire.h>

#include <cstdint>
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
  // Where streams that process in real time run: a thread of its own.
  pw_loop* data_loop() const { return pw_data_loop_get_loop(pw_context_get_data_loop(context_)); }
  // Wakes a wait(); for events that change what it waits for.
  void signal() { pw_thread_loop_signal(thread_loop_, false); }
  // Waits, with the lock held, until `done()` holds or `limit_ns` has passed;
  // says whether `done()` held. The loop thread runs meanwhile.
  template <class Done>
  bool wait(Done done, int64_t limit_ns) {
    timespec deadline{};
    pw_thread_loop_get_time(thread_loop_, &deadline, limit_ns);
    while (!done()) {
      if (pw_thread_loop_timed_wait_full(thread_loop_, &deadline) != 0) {
        return done();
      }
    }
    return true;
  }
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
