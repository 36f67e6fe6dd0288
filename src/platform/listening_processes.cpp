#include "platform/listening_processes.hpp"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace korvex::platform {

std::string describe(const ListeningProcess& process) {
  if (process.pid == 0) {
    return "a program the system does not name";
  }
  if (process.name.empty()) {
    return fmt::format("pid {}", process.pid);
  }
  return fmt::format("{} (pid {})", process.name, process.pid);
}

std::string describe(const std::vector<ListeningProcess>& processes) {
  std::string text;
  for (const ListeningProcess& process : processes) {
    text += (text.empty() ? "" : ", ") + describe(process);
  }
  return text;
}

bool is_receiver(const ListeningProcess& process) {
  std::string name = process.name;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "korvex-receiver" || name == "korvex-receiver.exe";
}

}  // namespace korvex::platform
