#include "platform/os_error.hpp"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace korvex::platform {

int last_os_error() {
  return errno;
}

std::string os_error_text(int code) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* message = strerror_r(code, buffer, sizeof buffer);
  return fmt::format("{} (os error {})", message, code);
}

}  // namespace korvex::platform
