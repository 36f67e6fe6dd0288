#include "capture_filter/filter_registration_win.hpp"

#include <objbase.h>
// objbase.h must come first.
#include <strmif.h>
#include <uuids.h>

#include <string>

#include <wrl/client.h>

#include "capture_filter/filter_class_win.hpp"
#include "capture_filter/video_media_type_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::capture_filter {
namespace {

using Microsoft::WRL::ComPtr;

std::wstring class_key() {
  wchar_t clsid[39];  // {8-4-4-4-12} and the terminator
  StringFromGUID2(kFilterClsid, clsid, 39);
  return std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
}

// This DLL's file; longer paths than MAX_PATH are allowed.
HRESULT module_path(std::wstring& out) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&module_path), &module)) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  out.assign(32768, L'\0');
  const DWORD length = GetModuleFileNameW(module, out.data(), static_cast<DWORD>(out.size()));
  if (length == 0 || length >= out.size()) {
    return HRESULT_FROM_WIN32(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
  }
  out.resize(length);
  return S_OK;
}

HRESULT set_text(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ,
                                            value.c_str(),
                                            static_cast<DWORD>((value.size() + 1) * 2)));
}

// COM for the mapper, whatever the caller's apartment; undone after.
class ComScope {
 public:
  ComScope() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (entered_) {
      CoUninitialize();
    }
  }

 private:
  bool entered_;
};

HRESULT filter_mapper(ComPtr<IFilterMapper2>& mapper) {
  return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                          IID_PPV_ARGS(&mapper));
}

}  // namespace

HRESULT register_filter() {
  std::wstring path;
  KORVEX_RETURN_IF_FAILED("GetModuleFileNameW", module_path(path));
  const std::wstring key = class_key();
  const std::wstring server = key + L"\\InprocServer32";
  KORVEX_RETURN_IF_FAILED("writing the class's name", set_text(key, nullptr, kFilterName));
  KORVEX_RETURN_IF_FAILED("writing InprocServer32", set_text(server, nullptr, path));
  KORVEX_RETURN_IF_FAILED("writing ThreadingModel", set_text(server, L"ThreadingModel", L"Both"));

  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  KORVEX_RETURN_IF_FAILED("CoCreateInstance(FilterMapper2)", filter_mapper(mapper));
  static const GUID kSubtypes[] = {subtype_of(picture::PixelFormat::yuy2),
                                   subtype_of(picture::PixelFormat::nv12),
                                   subtype_of(picture::PixelFormat::i420)};
  static const REGPINTYPES kPinTypes[] = {
      {&MEDIATYPE_Video, &kSubtypes[0]},
      {&MEDIATYPE_Video, &kSubtypes[1]},
      {&MEDIATYPE_Video, &kSubtypes[2]},
  };
  REGFILTERPINS2 pin{};
  pin.dwFlags = REG_PINFLAG_B_OUTPUT;
  pin.cInstances = 1;
  pin.nMediaTypes = sizeof(kPinTypes) / sizeof(kPinTypes[0]);
  pin.lpMediaType = kPinTypes;
  pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
  REGFILTER2 filter{};
  filter.dwVersion = 2;
  // Never picked by intelligent connect; programs choose cameras by name.
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins2 = 1;
  filter.rgPins2 = &pin;
  // No instance name: the moniker is named after the class, which is what
  // finds it under the category's Instance key.
  return mapper->RegisterFilter(kFilterClsid, kFilterName, nullptr, &CLSID_VideoInputDeviceCategory,
                                nullptr, &filter);
}

HRESULT unregister_filter() {
  HRESULT hr = S_OK;
  {
    ComScope com;
    ComPtr<IFilterMapper2> mapper;
    hr = filter_mapper(mapper);
    if (SUCCEEDED(hr)) {
      hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, kFilterClsid);
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
      hr = S_OK;
    }
  }
  KORVEX_RETURN_IF_FAILED("IFilterMapper2::UnregisterFilter", hr);
  const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, class_key().c_str());
  KORVEX_RETURN_IF_FAILED("deleting the class",
                          status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status));
  return S_OK;
}

}  // namespace korvex::capture_filter
