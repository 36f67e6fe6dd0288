#pragma once

// The TCP port the phone connects to, and the accept loop that serves one
// phone at a time, a newer one always taking over from an older one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/result.hpp"
#include "platform/socket.hpp"
#include "server/server_context.hpp"

namespace korvex::server {

inline constexpr uint16_t kPhonePort = 45334;

// Listens on kPhonePort on every IPv6 and IPv4 address.
Result<platform::Socket> bind_listener();

// After running out of descriptors or buffers, accept waits this long before
// trying again, so that the loop does not spin while connections end.
inline constexpr std::chrono::milliseconds kAcceptPause{100};

// The accept loop's steps, apart from the sockets and threads they use.
struct AcceptSteps {
  std::function<platform::AcceptResult()> accept;
  // Serves one accepted connection; false when its threads could not be
  // started, which ends accepting.
  std::function<bool(platform::Accepted)> serve;
  std::function<void(std::chrono::milliseconds)> pause;
};

// Accepts until the listening socket fails or `serve` gives up. A connection
// that went before it was accepted is passed over; a lack of descriptors or
// buffers is waited out. Returns the listener's error, or nothing when
// `serve` ended it.
std::optional<std::string> accept_connections(const AcceptSteps& steps);

// The body of the "accept" thread. Gives each phone a connection id, the
// send path, and its "ping-{id}" and "phone-{id}" threads, taking the next
// connection only while a connection slot is free. A failure of the
// listening socket ends the process with status 1; a thread that cannot be
// started ends only this loop, so no further phone is accepted.
void accept_loop(std::shared_ptr<ServerContext> context, platform::Socket listener);

}  // namespace korvex::server
