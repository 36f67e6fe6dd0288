#include "doctor/windows_probes_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::doctor {
namespace {

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

UniqueKey open_key(HKEY root, const std::wstring& key, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
    return nullptr;
  }
  return UniqueKey(opened);
}

}  // namespace

std::optional<std::string> registry_string(HKEY root, const std::wstring& key, const wchar_t* value,
                                           REGSAM view) {
  const UniqueKey opened = open_key(root, key, view);
  if (!opened) {
    return std::nullopt;
  }
  // A REG_EXPAND_SZ value comes back expanded, as REG_SZ (asking for
  // RRF_RT_REG_EXPAND_SZ too would need RRF_NOEXPAND).
  constexpr DWORD kTypes = RRF_RT_REG_SZ;
  DWORD bytes = 0;
  if (RegGetValueW(opened.get(), nullptr, value, kTypes, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(opened.get(), nullptr, value, kTypes, nullptr, text.data(), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  return platform::utf16_to_utf8(text.c_str(), static_cast<int>(text.size()));
}

bool registry_key_exists(HKEY root, const std::wstring& key, REGSAM view) {
  return open_key(root, key, view) != nullptr;
}

bool file_exists(const std::string& path) {
  return GetFileAttributesW(platform::utf8_to_utf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace korvex::doctor
