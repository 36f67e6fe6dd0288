#pragma once

// The send path to the phone. Only one phone is served at a time: `current`
// is the connection every outgoing message goes to, and a newly accepted
// connection always takes it over from an older one.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "counters/counters.hpp"
#include "platform/socket.hpp"

namespace korvex::server {

// The longest any one message to the phone may take to write, and so the
// longest anyone holds the send lock.
inline constexpr uint32_t kSendTimeoutMs = 2'000;

// True while a connection runs; its reader, its ping thread and `current`
// share it. Writers only ever set it to false.
using AliveFlag = std::shared_ptr<std::atomic<bool>>;

// Lets at most one keyframe request a second through, whoever asks: every
// connection and the decode thread share it.
class KeyframeThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  // True, and `now` recorded as the last request, unless the last recorded
  // request is less than one second older than `now`.
  bool try_claim(Clock::time_point now);

 private:
  std::mutex lock_;
  std::optional<Clock::time_point> last_request_;  // guarded by lock_
};

class PhoneLink {
 public:
  // No current connection, new zeroed counters, and the ping clock's origin now.
  PhoneLink();

  const std::shared_ptr<counters::Counters>& counters() const { return counters_; }
  KeyframeThrottle& keyframe_throttle() { return keyframe_throttle_; }

  // Microseconds since the link was created: the clock of ping values.
  uint64_t clock_us() const;

  // Makes connection `id` the current one. An older current connection is
  // marked not alive and its socket shut down both ways and closed, which
  // ends its reader.
  void install_current(platform::Socket send_socket, AliveFlag alive, uint64_t id);

  // Writes one whole message to connection `id` if it is still the current
  // one. False when it is not, or when the write failed.
  bool send_to_connection(uint64_t id, std::span<const uint8_t> message);

  // Writes one whole message to whichever connection is current.
  bool send_to_current(std::span<const uint8_t> message);

  // Ends connection `id`'s turn as the current one: shuts down and closes its
  // send socket. False, changing nothing, when a newer connection has taken
  // over (or none is current).
  bool release_current(uint64_t id);

  // Waits up to `timeout` while connection `id` stays the current one; false
  // as soon as it is not, so that its other threads end with it.
  bool stays_current(uint64_t id, std::chrono::milliseconds timeout);

 private:
  struct Connection {
    platform::Socket send_socket;
    AliveFlag alive;
    uint64_t id = 0;
  };

  // Held for the whole of every write, so messages never interleave on the
  // wire; kSendTimeoutMs bounds how long.
  std::mutex send_lock_;
  std::optional<Connection> current_;  // guarded by send_lock_
  std::condition_variable current_changed_;

  KeyframeThrottle keyframe_throttle_;
  const std::shared_ptr<counters::Counters> counters_;
  const std::chrono::steady_clock::time_point clock_origin_;
};

}  // namespace korvex::server
