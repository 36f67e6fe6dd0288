#include <winsock2.h>
// winsock2.h must come before windows.h, which iphlpapi.h includes.
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

#include "platform/interface_addresses.hpp"
#include "platform/os_error.hpp"

namespace korvex::platform {

Result<std::vector<InterfaceAddress>> list_interface_addresses() {
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG status = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the sizing call and the next, hence a few tries.
  for (int attempt = 0; attempt < 3 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    status = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (status == ERROR_NO_DATA) {
    return std::vector<InterfaceAddress>{};
  }
  if (status != ERROR_SUCCESS) {
    return fail("GetAdaptersAddresses: " + os_error_text(static_cast<int>(status)));
  }
  std::vector<InterfaceAddress> addresses;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
         unicast != nullptr; unicast = unicast->Next) {
      const sockaddr* raw = unicast->Address.lpSockaddr;
      if (raw == nullptr) {
        continue;
      }
      if (raw->sa_family == AF_INET) {
        InterfaceAddress address;
        address.ipv4 = true;
        std::memcpy(address.v4.data(), &reinterpret_cast<const sockaddr_in*>(raw)->sin_addr, 4);
        addresses.push_back(address);
      } else if (raw->sa_family == AF_INET6) {
        addresses.push_back(InterfaceAddress{});
      }
    }
  }
  return addresses;
}

}  // namespace korvex::platform
