#include <windows.h>

#include <algorithm>

#include "frames/output_file.hpp"
#include "platform/os_error.hpp"
#include "platform/system_text_win.hpp"

namespace korvex {
namespace {

HANDLE as_handle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

Result<OutputFile> OutputFile::create(const std::string& path) {
  const HANDLE file =
      CreateFileW(platform::utf8_to_utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return fail(platform::last_os_error_text());
  }
  return OutputFile(reinterpret_cast<intptr_t>(file));
}

OutputFile::OutputFile(OutputFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

OutputFile::~OutputFile() {
  close();
}

void OutputFile::close() {
  if (handle_ != -1) {
    CloseHandle(as_handle(handle_));
    handle_ = -1;
  }
}

Result<void> OutputFile::write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(as_handle(handle_), bytes.data(), chunk, &written, nullptr)) {
      return fail(platform::last_os_error_text());
    }
    bytes = bytes.subspan(written);
  }
  return {};
}

}  // namespace korvex
