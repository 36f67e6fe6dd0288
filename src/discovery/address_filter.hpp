#pragma once

// Which of the machine's addresses the phone is told about.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/interface_addresses.hpp"

namespace korvex::discovery {

using Ipv4Address = std::array<uint8_t, 4>;

// The IPv4 addresses in the order given, minus 0.0.0.0, loopback
// (127.0.0.0/8), link-local (169.254.0.0/16) and shared carrier-grade NAT
// space (100.64.0.0/10): a phone on the LAN can reach none of those.
std::vector<Ipv4Address> advertisable_addresses(
    const std::vector<platform::InterfaceAddress>& addresses);

std::string dotted_quad(const Ipv4Address& address);

// The addresses as dotted quads joined by `separator`.
std::string join_addresses(const std::vector<Ipv4Address>& addresses, const char* separator);

}  // namespace korvex::discovery
