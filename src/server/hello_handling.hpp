#pragma once

#include "protocol/hello.hpp"
#include "server/server_context.hpp"

namespace korvex::server {

// Takes the phone's name ("iPhone" when empty) and video size into the
// counters (a side outside 16..8192 counts as not given, 0), warns when the announced audio is not
// 48 kHz mono (it is played as such regardless), tells the decode thread that a stream of that size
// begins and marks the phone active.
void apply_hello(const protocol::Hello& hello, ServerContext& context);

}  // namespace korvex::server
