#include "directshow/media_type_win.hpp"

#include <objbase.h>

#include <cstring>

namespace korvex::directshow {

void free_media_type(AM_MEDIA_TYPE& type) {
  if (type.pbFormat != nullptr) {
    CoTaskMemFree(type.pbFormat);
  }
  if (type.pUnk != nullptr) {
    type.pUnk->Release();
  }
  type = AM_MEDIA_TYPE{};
}

HRESULT copy_media_type(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE& to) {
  to = from;
  to.pbFormat = nullptr;
  to.cbFormat = 0;
  if (from.cbFormat != 0 && from.pbFormat != nullptr) {
    to.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
    if (to.pbFormat == nullptr) {
      to = AM_MEDIA_TYPE{};
      return E_OUTOFMEMORY;
    }
    std::memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
    to.cbFormat = from.cbFormat;
  }
  if (to.pUnk != nullptr) {
    to.pUnk->AddRef();
  }
  return S_OK;
}

AM_MEDIA_TYPE* new_media_type(const AM_MEDIA_TYPE& from) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (type != nullptr && FAILED(copy_media_type(from, *type))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

void delete_media_type(AM_MEDIA_TYPE* type) {
  if (type != nullptr) {
    free_media_type(*type);
    CoTaskMemFree(type);
  }
}

MediaType& MediaType::operator=(MediaType&& other) noexcept {
  if (this != &other) {
    free_media_type(type_);
    type_ = other.type_;
    other.type_ = AM_MEDIA_TYPE{};
  }
  return *this;
}

MediaType MediaType::adopt(AM_MEDIA_TYPE& type) {
  MediaType owner;
  owner.type_ = type;
  type = AM_MEDIA_TYPE{};
  return owner;
}

HRESULT MediaType::copy_from(const AM_MEDIA_TYPE& from) {
  AM_MEDIA_TYPE copy;
  const HRESULT hr = copy_media_type(from, copy);
  if (SUCCEEDED(hr)) {
    free_media_type(type_);
    type_ = copy;
  }
  return hr;
}

}  // namespace korvex::directshow
