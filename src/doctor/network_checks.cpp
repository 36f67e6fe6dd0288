#include "doctor/network_checks.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "discovery/address_filter.hpp"
#include "discovery/discovery_causes.hpp"
#include "discovery/responder.hpp"
#include "doctor/system.hpp"

namespace korvex::doctor {

Finding check_discovery(const Result<void>& responder) {
  if (!responder) {
    return problem("discovery",
                   fmt::format("{} ({})", discovery::responder_missing_text(), responder.error()));
  }
  return ok("discovery", "the system's mDNS responder answers: phones find this PC by themselves");
}

Finding check_addresses(const Result<std::vector<platform::InterfaceAddress>>& addresses) {
  const auto usable = addresses ? discovery::advertisable_addresses(addresses.value())
                                : std::vector<discovery::Ipv4Address>{};
  if (usable.empty()) {
    return problem("addresses", std::string(discovery::kNoAddressText));
  }
  return ok("addresses",
            fmt::format("a phone on this PC's network reaches it at {} (type one into the app "
                        "if it does not list the PC)",
                        discovery::join_addresses(usable, ", ")));
}

Finding check_port(const Result<std::vector<platform::ListeningProcess>>& listeners) {
  if (!listeners) {
    return warning("port", fmt::format("could not ask the system who listens on TCP {} ({})",
                                       kPhonePort, listeners.error()));
  }
  const auto& found = listeners.value();
  if (found.empty()) {
    return ok("port", fmt::format("TCP {} is free for the receiver", kPhonePort));
  }
  if (std::all_of(found.begin(), found.end(), platform::is_receiver)) {
    return ok("port", fmt::format("{} listens on TCP {}", platform::describe(found), kPhonePort));
  }
  return problem("port", fmt::format("TCP {} is held by {}, and the receiver cannot listen "
                                     "beside it: end that program",
                                     kPhonePort, platform::describe(found)));
}

}  // namespace korvex::doctor
