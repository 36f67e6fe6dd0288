#include "discovery/address_filter.hpp"

#include <fmt/format.h>

namespace korvex::discovery {
namespace {

bool reachable_from_lan(const Ipv4Address& a) {
  const bool unspecified = a == Ipv4Address{0, 0, 0, 0};
  const bool loopback = a[0] == 127;
  const bool link_local = a[0] == 169 && a[1] == 254;
  const bool carrier_grade_nat = a[0] == 100 && a[1] >= 64 && a[1] <= 127;
  return !unspecified && !loopback && !link_local && !carrier_grade_nat;
}

}  // namespace

std::vector<Ipv4Address> advertisable_addresses(
    const std::vector<platform::InterfaceAddress>& addresses) {
  std::vector<Ipv4Address> kept;
  for (const platform::InterfaceAddress& address : addresses) {
    if (address.ipv4 && reachable_from_lan(address.v4)) {
      kept.push_back(address.v4);
    }
  }
  return kept;
}

std::string dotted_quad(const Ipv4Address& a) {
  return fmt::format("{}.{}.{}.{}", a[0], a[1], a[2], a[3]);
}

std::string join_addresses(const std::vector<Ipv4Address>& addresses, const char* separator) {
  std::string text;
  for (const Ipv4Address& address : addresses) {
    if (!text.empty()) {
      text += separator;
    }
    text += dotted_quad(address);
  }
  return text;
}

}  // namespace korvex::discovery
