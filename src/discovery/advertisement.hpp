#pragma once

// The receiver's DNS-SD advertisement: "{label}._korvex._tcp.local" on port
// 45334 with TXT v=1, so that the phone's app finds the PC by itself.

#include <memory>
#include <string>
#include <vector>

#include "common/result.hpp"
#include "discovery/address_filter.hpp"
#include "discovery/responder.hpp"

namespace korvex::discovery {

struct Advertisement {
  std::string full_name;  // label + "._korvex._tcp.local"
  std::string label;
  std::vector<Ipv4Address> addresses;  // as advertised, in the order found
  std::unique_ptr<Responder> responder;
};

// Registers the service with the system's responder. Errors: "mDNS daemon: {}",
// "no usable IPv4 LAN address to advertise", "service info: {}", "mDNS register: {}".
Result<Advertisement> advertise_service();

// Keeps the advertisement for the run, so that withdraw_advertisement can find it.
void keep_advertisement(Advertisement advertisement);

// Withdraws the kept service, if there is one. Safe from any thread and more
// than once; called by the console event handler just before the process ends.
void withdraw_advertisement();

}  // namespace korvex::discovery
