#include "server/keyframe_request.hpp"

#include <span>

#include "protocol/wire.hpp"

namespace korvex::server {

void request_keyframe(PhoneLink& link) {
  // Claimed before sending, so a request that then fails still holds the
  // next one back for a second.
  if (!link.keyframe_throttle().try_claim(KeyframeThrottle::Clock::now())) {
    return;
  }
  const auto& document = protocol::kKeyframeRequest;
  const auto message = protocol::encode_message(
      static_cast<uint8_t>(protocol::MessageType::control), 0,
      std::span(reinterpret_cast<const uint8_t*>(document.data()), document.size()));
  link.send_to_current(message);
}

}  // namespace korvex::server
