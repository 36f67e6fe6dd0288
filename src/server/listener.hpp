#pragma once

// The TCP port the phone connects to, and the accept loop that serves one
// phone at a time, a newer one always taking over from an older one.

#include <cstdint>
#include <memory>

#include "common/result.hpp"
#include "platform/socket.hpp"
#include "server/server_context.hpp"

namespace korvex::server {

inline constexpr uint16_t kPhonePort = 45334;

// Listens on kPhonePort on every IPv6 and IPv4 address.
Result<platform::Socket> bind_listener();

// The body of the "accept" thread. Gives each phone a connection id, the
// send path, and its "ping-{id}" and "phone-{id}" threads. An accept failure
// ends the process with status 1; a thread that cannot be started ends only
// this loop, so no further phone is accepted.
void accept_loop(std::shared_ptr<ServerContext> context, platform::Socket listener);

}  // namespace korvex::server
