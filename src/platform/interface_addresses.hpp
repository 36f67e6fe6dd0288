#pragma once

// The machine's own interface addresses, as the system lists them.

#include <array>
#include <cstdint>
#include <vector>

#include "common/result.hpp"

namespace korvex::platform {

struct InterfaceAddress {
  bool ipv4 = false;
  std::array<uint8_t, 4> v4{};  // in network order; zero for an IPv6 address
};

// Every unicast address of every interface, IPv4 and IPv6, in the system's
// order (GetAdaptersAddresses on Windows, getifaddrs on Linux).
Result<std::vector<InterfaceAddress>> list_interface_addresses();

}  // namespace korvex::platform
