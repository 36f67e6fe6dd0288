#pragma once

// IEnumPins over the filter's one pin. It holds the filter, which holds the pin.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include "capture_filter/com_object_win.hpp"

namespace korvex::capture_filter {

class PinEnumerator final : public ComObject<IEnumPins> {
 public:
  PinEnumerator(IBaseFilter* filter, IPin* pin, ULONG position)
      : filter_(filter), pin_(pin), position_(position) {}

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** copy) override;

 private:
  const Microsoft::WRL::ComPtr<IBaseFilter> filter_;
  IPin* const pin_;  // kept alive by filter_
  ULONG position_;   // 0 before the pin, 1 past it
};

}  // namespace korvex::capture_filter
