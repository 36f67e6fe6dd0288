#include "media_source/registration_win.hpp"

#include <objbase.h>

#include <string>
#include <utility>

#include "media_source/source_class_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::media_source {
namespace {

constexpr wchar_t kClassesKey[] = L"Software\\Classes\\CLSID";

// Owns one open registry key.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring clsid_text() {
  wchar_t text[39];  // {8-4-4-4-12} and the terminator
  StringFromGUID2(kSourceClsid, text, 39);
  return text;
}

// The full path of the module this code is linked into, however long.
HRESULT own_path(std::wstring& out) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&own_path), &module)) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return HRESULT_FROM_WIN32(GetLastError());
    }
    if (length < path.size()) {  // not cut short
      path.resize(length);
      out = std::move(path);
      return S_OK;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT create_key(HKEY parent, const std::wstring& name, RegistryKey& key) {
  return HRESULT_FROM_WIN32(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0,
                                            KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.out(),
                                            nullptr));
}

HRESULT set_text(HKEY key, const wchar_t* name, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return HRESULT_FROM_WIN32(
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

}  // namespace

HRESULT register_source_class() {
  std::wstring path;
  KORVEX_RETURN_IF_FAILED("the DLL's own path", own_path(path));
  RegistryKey class_key;
  RegistryKey server_key;
  KORVEX_RETURN_IF_FAILED(
      "create the class key",
      create_key(HKEY_LOCAL_MACHINE, std::wstring(kClassesKey) + L"\\" + clsid_text(), class_key));
  KORVEX_RETURN_IF_FAILED("name the class",
                          set_text(class_key.get(), nullptr, kSourceFriendlyName));
  KORVEX_RETURN_IF_FAILED("create InprocServer32",
                          create_key(class_key.get(), L"InprocServer32", server_key));
  KORVEX_RETURN_IF_FAILED("InprocServer32 path", set_text(server_key.get(), nullptr, path));
  KORVEX_RETURN_IF_FAILED("ThreadingModel", set_text(server_key.get(), L"ThreadingModel", L"Both"));
  return S_OK;
}

HRESULT unregister_source_class() {
  RegistryKey classes;
  LSTATUS status = RegOpenKeyExW(
      HKEY_LOCAL_MACHINE, kClassesKey, 0,
      KEY_WOW64_64KEY | DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
      classes.out());
  if (status == ERROR_SUCCESS) {
    status = RegDeleteTreeW(classes.get(), clsid_text().c_str());
  }
  return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace korvex::media_source
