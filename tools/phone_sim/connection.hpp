#pragma once

// The simulator's TCP connection to the receiver. The video, audio and reply
// paths all send on it; each message goes out whole under the send lock so
// messages never interleave on the wire.

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "common/result.hpp"
#include "platform/unique_fd.hpp"

namespace korvex::phone_sim {

class Connection {
 public:
  // Connects to an IPv4 or IPv6 address, giving up after 5 seconds. The
  // failure text is the system's reason.
  static Result<std::unique_ptr<Connection>> open(const std::string& host, uint16_t port);

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sends one whole message.
  Result<void> send(std::span<const uint8_t> message);

  // Receives what has arrived, waiting for at least a byte; 0 when the
  // receiver closed its side (or after shutdown()). Used by one thread only.
  Result<size_t> receive(std::span<uint8_t> buffer);

  // Ends both directions, waking a blocked receive.
  void shutdown();

 private:
  explicit Connection(platform::UniqueFd fd) : fd_(std::move(fd)) {}

  const platform::UniqueFd fd_;
  std::mutex send_lock_;
};

// "host:port", with an IPv6 address in brackets.
std::string endpoint_text(const std::string& host, uint16_t port);

}  // namespace korvex::phone_sim
