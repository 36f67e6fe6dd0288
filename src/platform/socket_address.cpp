#include "platform/socket_address.hpp"

#include <fmt/format.h>

namespace korvex::platform {

std::string address_text(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    if (a.sin6_scope_id != 0) {
      return fmt::format("[{}%{}]:{}", text, a.sin6_scope_id, ntohs(a.sin6_port));
    }
    return fmt::format("[{}]:{}", text, ntohs(a.sin6_port));
  }
  const auto& a = reinterpret_cast<const sockaddr_in&>(address);
  ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return fmt::format("{}:{}", text, ntohs(a.sin_port));
}

}  // namespace korvex::platform
