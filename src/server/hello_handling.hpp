#pragma once

#include "protocol/documents.hpp"
#include "server/server_context.hpp"

namespace korvex {

inline constexpr uint32_t kExpectedAudioRate = 48000;
inline constexpr uint16_t kExpectedAudioChannels = 1;

// Takes the phone's name ("iPhone" when empty) and video size into the
// counters, warns when the announced audio is not 48 kHz mono (it is played
// as such regardless), tells the decode thread that a stream of that size
// begins and marks the phone active.
void apply_hello(const protocol::Hello& hello, ServerContext& context);

}  // namespace korvex
