#include <windows.h>

#include <algorithm>

#include "platform/os_error.hpp"
#include "platform/output_file.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {

Result<OutputFile> OutputFile::create(const std::string& path) {
  UniqueHandle file(CreateFileW(utf8_to_utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return fail(last_os_error_text());
  }
  return OutputFile(std::move(file));
}

Result<void> OutputFile::write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr)) {
      return fail(last_os_error_text());
    }
    bytes = bytes.subspan(written);
  }
  return {};
}

}  // namespace korvex::platform
