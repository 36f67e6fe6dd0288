#include "capture_filter/filter_factory_win.hpp"

#include <new>

#include "capture_filter/capture_filter_win.hpp"
#include "media_source/com_guard_win.hpp"
#include "media_source/dll_use_win.hpp"

namespace korvex::capture_filter {

using Microsoft::WRL::ComPtr;

HRESULT FilterFactory::create(ComPtr<FilterFactory>& out) {
  out = new (std::nothrow) FilterFactory();
  return out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP FilterFactory::QueryInterface(REFIID riid, void** object) {
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

STDMETHODIMP_(ULONG) FilterFactory::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

STDMETHODIMP FilterFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  *object = nullptr;
  if (outer != nullptr) {
    return CLASS_E_NOAGGREGATION;
  }
  // The pin's picture may allocate while it is made.
  return media_source::guarded([&] {
    ComPtr<CaptureFilter> filter;
    const HRESULT hr = CaptureFilter::create(filter);
    return SUCCEEDED(hr) ? filter->QueryInterface(riid, object) : hr;
  });
}

STDMETHODIMP FilterFactory::LockServer(BOOL lock) {
  if (lock) {
    media_source::add_dll_use();
  } else {
    media_source::remove_dll_use();
  }
  return S_OK;
}

}  // namespace korvex::capture_filter
