#pragma once

#include "session.hpp"

namespace korvex::phone_sim {

// The reply path: answers the receiver's pings and takes its keyframe
// requests. Returns when the run ends.
void answer_receiver(Session& session);

}  // namespace korvex::phone_sim
