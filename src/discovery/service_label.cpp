#include "discovery/service_label.hpp"

#include <cstdint>

namespace korvex::discovery {
namespace {

bool is_ascii_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// UTF-8 continuation bytes belong to the character before them.
bool is_continuation(char c) {
  return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string service_label(const std::optional<std::string>& computername,
                          const std::optional<std::string>& hostname) {
  std::string name = computername.value_or(hostname.value_or(""));
  name = name.substr(0, name.find('.'));

  std::string label;
  for (const char c : name) {
    if (is_ascii_alnum(c)) {
      label += c;
    } else if (!is_continuation(c)) {
      label += '-';
    }
  }
  const size_t first = label.find_first_not_of('-');
  if (first == std::string::npos) {
    return kFallbackLabel;
  }
  return label.substr(first, label.find_last_not_of('-') - first + 1);
}

}  // namespace korvex::discovery
