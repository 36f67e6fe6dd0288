#include "media_source/class_factory_win.hpp"

#include <mfidl.h>

#include <new>

#include "media_source/dll_use_win.hpp"
#include "media_source/media_source_win.hpp"
#include "media_source/source_activate_win.hpp"
#include "platform/hresult_win.hpp"
#include "section/section_hold.hpp"

namespace korvex::media_source {

using Microsoft::WRL::ComPtr;

HRESULT ClassFactory::create(ComPtr<ClassFactory>& out) {
  out = new (std::nothrow) ClassFactory();
  return out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  *object = nullptr;
  if (outer != nullptr) {
    return CLASS_E_NOAGGREGATION;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFAttributes) ||
      riid == __uuidof(IMFActivate)) {
    ComPtr<SourceActivate> activate;
    KORVEX_RETURN_IF_FAILED("CreateInstance(IMFActivate)", SourceActivate::create(activate));
    return activate->QueryInterface(riid, object);
  }
  ComPtr<MediaSource> source;
  KORVEX_RETURN_IF_FAILED("CreateInstance(IMFMediaSource)",
                          MediaSource::create(nullptr, section::SectionHold::for_camera(), source));
  return source->QueryInterface(riid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    add_dll_use();
  } else {
    remove_dll_use();
  }
  return S_OK;
}

}  // namespace korvex::media_source
