#pragma once

// One phone's connection: its reader thread receives the stream, cuts it
// into messages and hands each to the part of the program that consumes it.

#include <cstdint>
#include <memory>

#include "platform/socket.hpp"
#include "server/phone_link.hpp"
#include "server/server_context.hpp"

namespace korvex::server {

// The body of the "phone-{id}" thread: reads until the phone leaves, falls
// silent or is taken over, then, if it is still the current connection,
// marks the phone gone and prints "phone disconnected".
void run_connection(std::shared_ptr<ServerContext> context, platform::Socket reader,
                    AliveFlag alive, uint64_t id);

}  // namespace korvex::server
