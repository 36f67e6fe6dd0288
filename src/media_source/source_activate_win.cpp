#include "media_source/source_activate_win.hpp"

#include <mfapi.h>

#include <mutex>
#include <new>
#include <utility>

namespace korvex::media_source {

using Microsoft::WRL::ComPtr;

HRESULT SourceActivate::create(ComPtr<SourceActivate>& out) {
  ComPtr<SourceActivate> activate(new (std::nothrow) SourceActivate());
  if (!activate) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = MFCreateAttributes(&activate->store_, 0);
  if (SUCCEEDED(hr)) {
    out = std::move(activate);
  }
  return hr;
}

STDMETHODIMP SourceActivate::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFAttributes) ||
      riid == __uuidof(IMFActivate)) {
    *object = static_cast<IMFActivate*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SourceActivate::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

STDMETHODIMP SourceActivate::ActivateObject(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  *object = nullptr;
  std::lock_guard guard(lock_);
  if (!source_) {
    // The source starts with the attributes the frame server gave us.
    const HRESULT hr = MediaSource::create(store_.Get(), source_);
    if (FAILED(hr)) {
      return hr;
    }
  }
  return source_->QueryInterface(riid, object);
}

STDMETHODIMP SourceActivate::ShutdownObject() {
  ComPtr<MediaSource> source;
  {
    std::lock_guard guard(lock_);
    source.Swap(source_);  // MinGW's ComPtr move assignment copies
  }
  if (source) {
    source->Shutdown();  // MF_E_SHUTDOWN when its user shut it down already
  }
  return S_OK;
}

STDMETHODIMP SourceActivate::DetachObject() {
  ComPtr<MediaSource> source;
  std::lock_guard guard(lock_);
  source.Swap(source_);  // MinGW's ComPtr move assignment copies
  return S_OK;           // our reference goes after the lock, with `source`
}

}  // namespace korvex::media_source
