#include "server/ping.hpp"

#include <chrono>
#include <cstring>

namespace korvex::server {
namespace {

constexpr auto kPingInterval = std::chrono::seconds(2);
constexpr uint64_t kLongestRoundTripUs = 59'999'999;

std::vector<uint8_t> ping_message(uint64_t value, uint8_t flags) {
  uint8_t payload[8];
  for (int i = 0; i < 8; ++i) {
    payload[i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return protocol::encode_message(static_cast<uint8_t>(protocol::MessageType::ping), flags,
                                  payload);
}

}  // namespace

std::optional<uint64_t> round_trip_us(uint64_t now, uint64_t value) {
  if (now < value || now - value > kLongestRoundTripUs) {
    return std::nullopt;
  }
  return now - value;
}

void ping_loop(std::shared_ptr<PhoneLink> link, uint64_t id) {
  while (link->stays_current(id, kPingInterval)) {
    if (!link->send_to_connection(id, ping_message(link->clock_us(), 0))) {
      return;
    }
  }
}

void handle_ping(const protocol::msg::Ping& ping, PhoneLink& link, uint64_t id) {
  if (!ping.reply) {
    // The answer carries the same 8 bytes back; whether it arrives is the
    // phone's concern.
    link.send_to_connection(id, ping_message(ping.value, protocol::kFlagReply));
    return;
  }
  if (const auto rtt = round_trip_us(link.clock_us(), ping.value)) {
    link.counters()->rtt_us.store(*rtt, std::memory_order_relaxed);
  }
}

}  // namespace korvex::server
