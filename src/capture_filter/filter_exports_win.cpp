// KorvexFilter.dll's four exports (korvex_filter.def lists them): the COM
// in-process server entry points for the DirectShow camera.

#include <windows.h>
// windows.h must come first.
#include <olectl.h>

#include "capture_filter/filter_class_win.hpp"
#include "capture_filter/filter_factory_win.hpp"
#include "capture_filter/filter_registration_win.hpp"
#include "media_source/com_guard_win.hpp"
#include "media_source/dll_use_win.hpp"

using namespace korvex::capture_filter;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  *object = nullptr;
  if (clsid != kFilterClsid) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  Microsoft::WRL::ComPtr<FilterFactory> factory;
  const HRESULT hr = make_com_object(factory);
  return SUCCEEDED(hr) ? factory->QueryInterface(riid, object) : hr;
}

STDAPI DllCanUnloadNow() {
  return korvex::media_source::dll_in_use() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
  return korvex::media_source::guarded(register_filter);
}

STDAPI DllUnregisterServer() {
  return korvex::media_source::guarded(unregister_filter);
}
