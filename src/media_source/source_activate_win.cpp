#include "media_source/source_activate_win.hpp"

#include <mfapi.h>

#include <mutex>
#include <new>
#include <utility>

#include "platform/hresult_win.hpp"
#include "section/section_hold.hpp"

namespace korvex::media_source {

using Microsoft::WRL::ComPtr;

HRESULT SourceActivate::create(ComPtr<SourceActivate>& out) {
  ComPtr<SourceActivate> activate(new (std::nothrow) SourceActivate());
  if (!activate) {
    return E_OUTOFMEMORY;
  }
  KORVEX_RETURN_IF_FAILED("activate MFCreateAttributes", MFCreateAttributes(&activate->store_, 0));
  out = std::move(activate);
  return S_OK;
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
  // A source its user shut down is of no further use: the next activation
  // makes another, as after DetachObject elsewhere.
  if (!source_ || source_->is_shut_down()) {
    source_.Reset();
    // The source starts with the attributes the frame server gave us.
    KORVEX_RETURN_IF_FAILED(
        "ActivateObject",
        MediaSource::create(store_.Get(), section::SectionHold::for_camera(), source_));
  }
  return source_->QueryInterface(riid, object);
}

// The frame server owns the source's lifetime: it shuts the source down
// itself, and may call these for its own bookkeeping while the source is in
// use. Its documentation asks custom sources to answer both with E_NOTIMPL;
// the source goes with its last reference.
STDMETHODIMP SourceActivate::ShutdownObject() {
  return E_NOTIMPL;
}

STDMETHODIMP SourceActivate::DetachObject() {
  return E_NOTIMPL;
}

}  // namespace korvex::media_source
