#include "main/startup_causes.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace korvex::main {

std::string port_holder_lines(uint16_t port,
                              const std::vector<platform::ListeningProcess>& holders) {
  if (holders.empty()) {
    return {};
  }
  const bool unnamed = std::all_of(holders.begin(), holders.end(),
                                   [](const platform::ListeningProcess& p) { return p.pid == 0; });
  if (unnamed) {
    return fmt::format("   another program holds TCP {}; the system does not say which\n", port);
  }
  const bool receiver = std::any_of(holders.begin(), holders.end(), platform::is_receiver);
  return fmt::format("   TCP {} is held by {}: {}\n", port, platform::describe(holders),
                     receiver ? "a receiver is already running; use that one, or end it first"
                              : "end that program, then start the receiver again");
}

std::string cause_lines(const std::vector<std::string>& causes) {
  std::string text;
  for (const std::string& cause : causes) {
    text += "   " + cause + "\n";
  }
  return text;
}

}  // namespace korvex::main
