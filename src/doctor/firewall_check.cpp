#include "doctor/firewall_check.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace korvex::doctor {
namespace {

constexpr int32_t kTcp = 6;
constexpr int32_t kAnyProtocol = 256;
constexpr uint32_t kAllProfiles = kDomainProfile | kPrivateProfile | kPublicProfile;
constexpr std::string_view kReceiverProgram = "korvex-receiver.exe";

constexpr std::string_view kAddRule =
    "netsh advfirewall firewall add rule name=\"Korvex Receiver\" dir=in action=allow "
    "protocol=TCP localport=45334 profile=private,domain remoteip=localsubnet";

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return text;
}

bool parse_port(std::string_view text, uint32_t& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

std::string program_of(std::string_view path) {
  const size_t slash = path.find_last_of("\\/");
  return lower(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The profiles a rule is judged on: the current ones, or all of them when
// Windows does not say which those are.
uint32_t profiles_in_force(const FirewallState& firewall) {
  return firewall.current_profiles ? firewall.current_profiles.value() : kAllProfiles;
}

std::string profile_names(uint32_t profiles) {
  std::string names;
  for (const auto& [bit, name] :
       {std::pair{kPrivateProfile, "private"}, std::pair{kDomainProfile, "domain"},
        std::pair{kPublicProfile, "public"}}) {
    if (profiles & bit) {
      names += (names.empty() ? "" : ", ") + std::string(name);
    }
  }
  return names;
}

// The first applying rule that allows (or blocks) the phone in any of `profiles`.
const FirewallRule* applying_rule(const FirewallState& firewall, bool allow, uint32_t profiles) {
  for (const FirewallRule& rule : firewall.rules.value()) {
    if (rule_applies(rule) && rule.allow == allow && (rule.profiles & profiles) != 0) {
      return &rule;
    }
  }
  return nullptr;
}

}  // namespace

bool ports_cover(std::string_view ports, uint16_t port) {
  ports = trimmed(ports);
  if (ports.empty() || ports == "*") {
    return true;
  }
  while (!ports.empty()) {
    const size_t comma = std::min(ports.find(','), ports.size());
    const std::string_view item = trimmed(ports.substr(0, comma));
    ports.remove_prefix(std::min(comma + 1, ports.size()));
    const size_t dash = item.find('-');
    uint32_t first = 0;
    uint32_t last = 0;
    const bool parsed = dash == std::string_view::npos
                            ? parse_port(item, first) && parse_port(item, last)
                            : parse_port(trimmed(item.substr(0, dash)), first) &&
                                  parse_port(trimmed(item.substr(dash + 1)), last);
    if (parsed && first <= port && port <= last) {
      return true;
    }
  }
  return false;
}

bool rule_applies(const FirewallRule& rule) {
  return rule.inbound && rule.enabled && (rule.protocol == kTcp || rule.protocol == kAnyProtocol) &&
         ports_cover(rule.local_ports, kPhonePort) &&
         (rule.application.empty() || program_of(rule.application) == kReceiverProgram);
}

Finding check_firewall(const FirewallState& firewall) {
  constexpr std::string_view kWhere =
      "if the phone cannot connect, allow korvex-receiver in Windows Security > Firewall & "
      "network protection > Allow an app through firewall";
  if (!firewall.rules) {
    return warning("firewall", fmt::format("could not read Windows Firewall's rules ({}); {}",
                                           firewall.rules.error(), kWhere));
  }
  if (!firewall.enabled) {
    return warning("firewall", fmt::format("could not tell whether Windows Firewall is on ({}); {}",
                                           firewall.enabled.error(), kWhere));
  }
  if (!firewall.enabled.value()) {
    return ok("firewall", "Windows Firewall is off for this network");
  }
  if (firewall.blocks_all_inbound) {
    return problem("firewall",
                   "Windows Firewall blocks every incoming connection on this network: turn off "
                   "\"Blocks all incoming connections\" in Windows Security > Firewall & network "
                   "protection > the network marked active");
  }
  const uint32_t profiles = profiles_in_force(firewall);
  if (const FirewallRule* block = applying_rule(firewall, false, profiles)) {
    return problem("firewall",
                   fmt::format("the inbound rule \"{}\" blocks the receiver (Windows makes such a "
                               "rule when its firewall prompt is cancelled): delete it in Windows "
                               "Defender Firewall > Advanced settings > Inbound Rules",
                               block->name));
  }
  if (const FirewallRule* allow = applying_rule(firewall, true, kAllProfiles)) {
    return ok("firewall", fmt::format("the inbound rule \"{}\" lets phones reach TCP {} on {} "
                                      "networks",
                                      allow->name, kPhonePort, profile_names(allow->profiles)));
  }
  return problem("firewall",
                 fmt::format("no inbound rule lets phones reach TCP {}: reinstall Korvex, which "
                             "adds the rule \"Korvex Receiver\", or run as administrator: {}",
                             kPhonePort, kAddRule));
}

Finding check_network_profile(const FirewallState& firewall) {
  constexpr std::string_view kMakePrivate =
      "make it Private in Settings > Network & internet > Wi-Fi (or Ethernet) > the network > "
      "Network profile type > Private network";
  if (!firewall.current_profiles) {
    return warning("network", fmt::format("Windows does not say which kind of network this is "
                                          "({}); if it is Public, {}",
                                          firewall.current_profiles.error(), kMakePrivate));
  }
  const uint32_t current = firewall.current_profiles.value();
  const bool firewall_off = firewall.enabled && !firewall.enabled.value();
  const bool public_let_in = firewall.rules && applying_rule(firewall, true, kPublicProfile);
  if ((current & kPublicProfile) && !firewall_off && !public_let_in) {
    return problem("network",
                   fmt::format("this network is Public, where Windows Firewall keeps phones out: "
                               "{}",
                               kMakePrivate));
  }
  if ((current & kAllProfiles) == 0) {
    return warning("network", "this PC is on no network");
  }
  return ok("network", fmt::format("this network is {}", profile_names(current)));
}

}  // namespace korvex::doctor
