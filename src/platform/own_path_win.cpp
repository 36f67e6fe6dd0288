#include <windows.h>

#include "platform/os_error.hpp"
#include "platform/own_path.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {

Result<std::string> own_program_path() {
  // The call cuts a long path short without saying how long it is: grow the
  // buffer until the whole name fits. Windows paths end at 32,767 characters.
  constexpr DWORD kLongest = 32768;
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) {
      return fail(last_os_error_text());
    }
    if (length < size) {
      return utf16_to_utf8(buffer.data(), static_cast<int>(length));
    }
    if (size >= kLongest) {
      return fail(os_error_text(ERROR_INSUFFICIENT_BUFFER));
    }
    buffer.resize(size * 2 < kLongest ? size * 2 : kLongest);
  }
}

}  // namespace korvex::platform
