#pragma once

// Why phones cannot find this PC by themselves, for the lines after the
// receiver's "mDNS:" message and for the Korvex check.

#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "platform/interface_addresses.hpp"

namespace korvex::discovery {

inline constexpr std::string_view kNoAddressText =
    "this PC has no IPv4 address on a local network: connect it to the network the phone is on";

// Whether the system's responder can be reached (it is started and let go).
Result<void> responder_answers();

// One line each, with the fix: no responder (`responder` is what starting it
// gave), no address a phone could reach. Empty when neither is the case.
std::vector<std::string> discovery_causes(
    const Result<void>& responder,
    const Result<std::vector<platform::InterfaceAddress>>& addresses);

// The same, asking the system.
std::vector<std::string> discovery_causes();

}  // namespace korvex::discovery
