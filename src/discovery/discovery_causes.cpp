#include "discovery/discovery_causes.hpp"

#include "discovery/address_filter.hpp"
#include "discovery/responder.hpp"

namespace korvex::discovery {

std::vector<std::string> discovery_causes(
    const Result<void>& responder,
    const Result<std::vector<platform::InterfaceAddress>>& addresses) {
  std::vector<std::string> causes;
  if (!responder) {
    causes.emplace_back(responder_missing_text());
  }
  if (!addresses || advertisable_addresses(addresses.value()).empty()) {
    causes.emplace_back(kNoAddressText);
  }
  return causes;
}

Result<void> responder_answers() {
  auto started = start_responder();
  if (!started) {
    return fail(started.error());
  }
  return {};
}

std::vector<std::string> discovery_causes() {
  return discovery_causes(responder_answers(), platform::list_interface_addresses());
}

}  // namespace korvex::discovery
