#include "capture_filter/enum_media_types_win.hpp"

#include "capture_filter/video_media_type_win.hpp"
#include "media_source/com_guard_win.hpp"

namespace korvex::capture_filter {

using Microsoft::WRL::ComPtr;

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (types == nullptr || (count > 1 && fetched == nullptr)) {
    return E_POINTER;
  }
  ULONG given = 0;
  while (given < count && position_ < choices_.size()) {
    directshow::MediaType type;
    const HRESULT hr = make_media_type(choices_[position_], type);
    types[given] = SUCCEEDED(hr) ? directshow::new_media_type(type.get()) : nullptr;
    if (types[given] == nullptr) {
      break;
    }
    ++given;
    ++position_;
  }
  if (fetched != nullptr) {
    *fetched = given;
  }
  return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
  const size_t left = choices_.size() - position_;
  position_ += count < left ? count : left;
  return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** copy) {
  if (copy == nullptr) {
    return E_POINTER;
  }
  *copy = nullptr;
  return media_source::guarded([&] {
    ComPtr<MediaTypeEnumerator> clone;
    const HRESULT hr = make_com_object(clone, pin_.Get(), choices_, position_);
    *copy = SUCCEEDED(hr) ? clone.Detach() : nullptr;
    return hr;
  });
}

}  // namespace korvex::capture_filter
