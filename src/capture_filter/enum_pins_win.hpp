#pragma once

// IEnumPins over the filter's one pin. It holds the filter, which holds the pin.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include "media_source/ref_count_win.hpp"

namespace korvex::capture_filter {

class PinEnumerator final : public IEnumPins {
 public:
  static HRESULT create(IBaseFilter* filter, IPin* pin, ULONG position,
                        Microsoft::WRL::ComPtr<PinEnumerator>& out);

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** copy) override;

 private:
  PinEnumerator(IBaseFilter* filter, IPin* pin, ULONG position)
      : filter_(filter), pin_(pin), position_(position) {}
  ~PinEnumerator() = default;

  media_source::RefCount refs_;
  const Microsoft::WRL::ComPtr<IBaseFilter> filter_;
  IPin* const pin_;  // kept alive by filter_
  ULONG position_;   // 0 before the pin, 1 past it
};

}  // namespace korvex::capture_filter
