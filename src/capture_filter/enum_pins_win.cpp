#include "capture_filter/enum_pins_win.hpp"

namespace korvex::capture_filter {

using Microsoft::WRL::ComPtr;

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
  const HRESULT hr = make_com_object(clone, filter_.Get(), pin_, position_);
  *copy = SUCCEEDED(hr) ? clone.Detach() : nullptr;
  return hr;
}

}  // namespace korvex::capture_filter
