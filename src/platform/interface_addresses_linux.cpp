#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "platform/interface_addresses.hpp"
#include "platform/os_error.hpp"

namespace korvex::platform {

Result<std::vector<InterfaceAddress>> list_interface_addresses() {
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) {
    return fail("getifaddrs: " + last_os_error_text());
  }
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(first, freeifaddrs);
  std::vector<InterfaceAddress> addresses;
  for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) {
      continue;
    }
    if (entry->ifa_addr->sa_family == AF_INET) {
      InterfaceAddress address;
      address.ipv4 = true;
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      std::memcpy(address.v4.data(), &in->sin_addr, 4);
      addresses.push_back(address);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      addresses.push_back(InterfaceAddress{});
    }
  }
  return addresses;
}

}  // namespace korvex::platform
