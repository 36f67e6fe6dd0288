#include "replies.hpp"

#include <nlohmann/json.hpp>

#include <span>
#include <variant>
#include <vector>

#include "protocol/wire_parser.hpp"

namespace korvex::phone_sim {
namespace {

bool is_keyframe_request(std::span<const uint8_t> payload) {
  const auto doc = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
  if (!doc.is_object()) {
    return false;
  }
  const auto cmd = doc.find("cmd");
  return cmd != doc.end() && *cmd == "keyframe";
}

void handle(Session& session, const protocol::Message& message) {
  if (const auto* ping = std::get_if<protocol::msg::Ping>(&message)) {
    if (ping->reply) {
      return;  // the simulator sends no pings of its own
    }
    uint8_t value[8];
    for (int i = 0; i < 8; ++i) {
      value[i] = static_cast<uint8_t>(ping->value >> (8 * i));
    }
    const auto reply = protocol::encode_message(static_cast<uint8_t>(protocol::MessageType::ping),
                                                protocol::kFlagReply, value);
    if (auto sent = session.connection.send(reply); !sent) {
      // Once the run is over the simulator shuts the connection itself.
      if (session.running()) {
        session.end_with_error(sent.error());
      }
      return;
    }
    ++session.counts.pings_answered;
  } else if (const auto* control = std::get_if<protocol::msg::Control>(&message)) {
    if (is_keyframe_request(control->payload.bytes())) {
      ++session.counts.keyframe_requests;
      session.keyframe_wanted = true;  // the next picture becomes an IDR
    }
  }
}

}  // namespace

void answer_receiver(Session& session) {
  protocol::Parser parser;
  std::vector<uint8_t> buffer(64 * 1024);
  while (true) {
    auto received = session.connection.receive(buffer);
    if (!received || received.value() == 0) {
      // After the simulator's own shutdown this is the expected end.
      if (session.running()) {
        session.end_with_error(received ? "connection closed by the receiver" : received.error());
      }
      return;
    }
    for (const auto& message : parser.feed({buffer.data(), received.value()})) {
      handle(session, message);
    }
  }
}

}  // namespace korvex::phone_sim
