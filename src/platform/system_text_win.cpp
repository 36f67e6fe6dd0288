#include "platform/system_text_win.hpp"

namespace korvex::platform {

std::string trim_right(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' ||
                           text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

std::string utf16_to_utf8(const wchar_t* text, int length) {
  if (text == nullptr) {
    return {};
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) {
    return {};
  }
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  if (length < 0 && !out.empty() && out.back() == '\0') {
    out.pop_back();
  }
  return out;
}

std::wstring utf8_to_utf16(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int chars =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
  if (chars > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), chars);
  }
  return out;
}

std::string system_message(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) {
    return {};
  }
  std::string text = utf16_to_utf8(buffer, static_cast<int>(length));
  LocalFree(buffer);
  return trim_right(std::move(text));
}

}  // namespace korvex::platform
