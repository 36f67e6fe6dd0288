#pragma once

// One hostile connection to the receiver on loopback, and the ways it can
// misbehave: send in pieces, stop reading, reset, or vanish without a word.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace korvex::hostile {

using Clock = std::chrono::steady_clock;

class Peer {
 public:
  // Connects to 127.0.0.1:port, giving up after `timeout`.
  static std::optional<Peer> connect(uint16_t port, std::chrono::milliseconds timeout);

  Peer(Peer&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Peer& operator=(Peer&& other) noexcept;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer();

  // Sends as much of `bytes` as the receiver takes before `deadline`; false
  // when the connection failed or the deadline came first.
  bool send(std::span<const uint8_t> bytes, Clock::time_point deadline);
  // Reads and discards whatever the receiver sent, without waiting.
  void drain();
  // Keeps the receive window small, so that the receiver's sends back up soon.
  void shrink_receive_buffer();

  // Ends with a reset instead of a FIN (SO_LINGER 0).
  void reset();
  // Disappears without FIN or reset (TCP_REPAIR), leaving the receiver's end
  // half open. False when the system does not allow it (needs CAP_NET_ADMIN).
  bool vanish();

 private:
  explicit Peer(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace korvex::hostile
