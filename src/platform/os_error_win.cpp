#include <windows.h>

#include <fmt/format.h>

#include "platform/os_error.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {

int last_os_error() {
  return static_cast<int>(GetLastError());
}

std::string os_error_text(int code) {
  std::string message = system_message(static_cast<DWORD>(code));
  if (message.empty()) {
    message = "Unknown error";
  }
  return fmt::format("{} (os error {})", message, code);
}

}  // namespace korvex::platform
