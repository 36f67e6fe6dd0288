#include "capture_filter/filter_factory_win.hpp"

#include "capture_filter/capture_filter_win.hpp"
#include "media_source/com_guard_win.hpp"
#include "media_source/dll_use_win.hpp"

namespace korvex::capture_filter {

using Microsoft::WRL::ComPtr;

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
