#include <cstdlib>

#include "platform/environment.hpp"
#include "platform/utf8.hpp"

namespace korvex::platform {

std::optional<std::string> environment_variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !is_valid_utf8(value)) {
    return std::nullopt;
  }
  return std::string(value);
}

}  // namespace korvex::platform
