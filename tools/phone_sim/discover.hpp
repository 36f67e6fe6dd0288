#pragma once

// Finding the receiver as the phone's app does: browse DNS-SD for
// _korvex._tcp, take the first instance and resolve it (through the Avahi
// daemon).

#include <chrono>
#include <cstdint>
#include <string>

#include "common/result.hpp"

namespace korvex::phone_sim {

struct DiscoveredReceiver {
  std::string instance;  // the instance name, e.g. "DESKTOP-7Q2K"
  std::string address;   // IPv4, dotted quad
  uint16_t port = 0;
};

// Fails when nothing is found and resolved within `limit`.
Result<DiscoveredReceiver> discover_receiver(std::chrono::milliseconds limit);

}  // namespace korvex::phone_sim
