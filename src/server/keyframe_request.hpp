#pragma once

#include "server/phone_link.hpp"

namespace korvex::server {

// Asks the current phone for a keyframe, unless a request went out less than
// a second ago. Callers do not learn whether it was sent. Called by the
// connection for every frame it holds back and by the decode thread after
// every frame that fails to decode.
void request_keyframe(PhoneLink& link);

}  // namespace korvex::server
