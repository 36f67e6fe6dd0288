#pragma once

// IEnumMediaTypes over the formats the pin offers at the moment it is asked.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include <vector>

#include "capture_filter/capture_formats.hpp"
#include "capture_filter/com_object_win.hpp"

namespace korvex::capture_filter {

class MediaTypeEnumerator final : public ComObject<IEnumMediaTypes> {
 public:
  // Holds `pin` (and so its filter) for as long as it lives.
  MediaTypeEnumerator(IPin* pin, std::vector<StreamChoice> choices, size_t position)
      : pin_(pin), choices_(std::move(choices)), position_(position) {}

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** copy) override;

 private:
  const Microsoft::WRL::ComPtr<IPin> pin_;
  const std::vector<StreamChoice> choices_;
  size_t position_;
};

}  // namespace korvex::capture_filter
