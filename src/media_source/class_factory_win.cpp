#include "media_source/class_factory_win.hpp"

#include <mfidl.h>

#include <new>

#include "media_source/dll_use_win.hpp"
#include "media_source/media_source_win.hpp"
#include "media_source/source_activate_win.hpp"

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
    const HRESULT hr = SourceActivate::create(activate);
    return SUCCEEDED(hr) ? activate->QueryInterface(riid, object) : hr;
  }
  ComPtr<MediaSource> source;
  const HRESULT hr = MediaSource::create(nullptr, source);
  return SUCCEEDED(hr) ? source->QueryInterface(riid, object) : hr;
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
