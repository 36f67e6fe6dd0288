#include <windows.h>

#include <string>

#include "platform/debug_trace_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {
namespace {

// The file name of the module this code is linked into: the same platform
// code is part of the receiver and of each DLL.
std::wstring own_module_name() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&own_module_name), &module)) {
    return L"Korvex";
  }
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) {
    return L"Korvex";
  }
  const std::wstring full(path, length);
  const size_t slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

}  // namespace

void trace(std::string_view text) {
  static const std::wstring module = own_module_name();
  const std::wstring line = module + L": " + utf8_to_utf16(text) + L"\n";
  OutputDebugStringW(line.c_str());
}

}  // namespace korvex::platform
