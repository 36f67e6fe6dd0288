// KorvexSource.dll's four exports (korvex_source.def lists them): the COM
// in-process server entry points for the camera's media source.

#include <windows.h>
// windows.h must come first.
#include <olectl.h>

#include "media_source/class_factory_win.hpp"
#include "media_source/com_guard_win.hpp"
#include "media_source/dll_use_win.hpp"
#include "media_source/registration_win.hpp"
#include "media_source/source_class_win.hpp"
#include "platform/hresult_win.hpp"

using namespace korvex::media_source;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  *object = nullptr;
  if (clsid != kSourceClsid) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  Microsoft::WRL::ComPtr<ClassFactory> factory;
  KORVEX_RETURN_IF_FAILED("DllGetClassObject", ClassFactory::create(factory));
  return factory->QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() {
  return dll_in_use() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
  return guarded(register_source_class);
}

STDAPI DllUnregisterServer() {
  return guarded(unregister_source_class);
}
