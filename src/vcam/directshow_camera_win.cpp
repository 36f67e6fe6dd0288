#include <windows.h>

#include <string>

#include "platform/system_text_win.hpp"
#include "vcam/directshow_camera.hpp"

namespace korvex::vcam {
namespace {

// {860BB310-5D01-11D0-BD3B-00A0C911CE86}: where DirectShow programs find cameras.
constexpr wchar_t kVideoInputInstances[] =
    L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";

// Windows 11 (build 22000) and later: the same test register_virtual_camera
// fails on, without keeping the library.
bool has_virtual_cameras() {
  const HMODULE library =
      LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library == nullptr) {
    return false;
  }
  const bool found = GetProcAddress(library, "MFCreateVirtualCamera") != nullptr;
  FreeLibrary(library);
  return found;
}

bool filter_registered() {
  const std::wstring key = kVideoInputInstances + platform::utf8_to_utf16(kDirectShowFilterId);
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(opened);
  return true;
}

}  // namespace

bool offered_to_directshow() {
  return !has_virtual_cameras() && filter_registered();
}

}  // namespace korvex::vcam
