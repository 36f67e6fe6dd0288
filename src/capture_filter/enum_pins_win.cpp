#include "capture_filter/enum_pins_win.hpp"

#include <new>

namespace korvex::capture_filter {

using Microsoft::WRL::ComPtr;

HRESULT PinEnumerator::create(IBaseFilter* filter, IPin* pin, ULONG position,
                              ComPtr<PinEnumerator>& out) {
  out = new (std::nothrow) PinEnumerator(filter, pin, position);
  return out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP PinEnumerator::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IEnumPins)) {
    *object = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (pins == nullptr || (count > 1 && fetched == nullptr)) {
    return E_POINTER;
  }
  ULONG given = 0;
  if (count > 0 && position_ == 0) {
    pins[0] = pin_;
    pin_->AddRef();
    position_ = 1;
    given = 1;
  }
  if (fetched != nullptr) {
    *fetched = given;
  }
  return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
  const ULONG left = 1 - position_;
  position_ = count >= left ? 1 : position_;
  return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** copy) {
  if (copy == nullptr) {
    return E_POINTER;
  }
  ComPtr<PinEnumerator> clone;
  const HRESULT hr = create(filter_.Get(), pin_, position_, clone);
  *copy = SUCCEEDED(hr) ? clone.Detach() : nullptr;
  return hr;
}

}  // namespace korvex::capture_filter
