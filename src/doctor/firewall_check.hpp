#pragma once

// Windows Firewall between the phone and the receiver: a rule that lets the
// phone in, none that blocks it, and a network profile the rule covers.

#include <cstdint>
#include <string_view>

#include "doctor/report.hpp"
#include "doctor/windows_system.hpp"

namespace korvex::doctor {

// Whether `ports` (a rule's LocalPorts: "*", "45334", "80,45000-46000") takes in `port`.
bool ports_cover(std::string_view ports, uint16_t port);

// Whether `rule` decides about a phone's connection to the receiver: an
// enabled inbound rule for TCP (or any protocol) on kPhonePort, for every
// program or for korvex-receiver.exe.
bool rule_applies(const FirewallRule& rule);

// The rules: one lets the phone in, none blocks it.
Finding check_firewall(const FirewallState& firewall);

// The current network's profile: the rule must cover it (Public it does not).
Finding check_network_profile(const FirewallState& firewall);

}  // namespace korvex::doctor
