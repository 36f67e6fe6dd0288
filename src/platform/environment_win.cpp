#include <windows.h>

#include <string>

#include "platform/environment.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {
namespace {

// A lone surrogate has no Unicode character to convert to.
bool is_valid_utf16(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
        return false;
      }
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> environment_variable(const char* name) {
  const std::wstring wide_name = utf8_to_utf16(name);
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) {
    // Zero is also the answer for a variable that is set but empty.
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      return std::nullopt;
    }
    return std::string();
  }
  std::wstring value(size, L'\0');
  size = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  value.resize(size);
  if (!is_valid_utf16(value)) {
    return std::nullopt;
  }
  return utf16_to_utf8(value.c_str(), static_cast<int>(value.size()));
}

}  // namespace korvex::platform
