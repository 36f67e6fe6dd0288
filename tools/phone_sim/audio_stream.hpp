#pragma once

#include "session.hpp"

namespace korvex::phone_sim {

// The audio path: a 480-sample message every 10 ms, tone or silence. Returns
// when the run ends.
void stream_audio(Session& session);

}  // namespace korvex::phone_sim
