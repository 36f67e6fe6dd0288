#pragma once

// DirectShow's AM_MEDIA_TYPE has no owner of its own: its format block is
// CoTaskMem memory and its pUnk a counted reference. MediaType owns one;
// the free functions serve the places where DirectShow hands one over.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>

namespace korvex::directshow {

// Releases what `type` points to (not `type` itself) and zeroes it.
void free_media_type(AM_MEDIA_TYPE& type);

// A deep copy into `to`, which must hold nothing; E_OUTOFMEMORY leaves it empty.
HRESULT copy_media_type(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE& to);

// A copy in CoTaskMem memory, as GetFormat, GetStreamCaps and the media type
// enumerator return it; null when out of memory.
AM_MEDIA_TYPE* new_media_type(const AM_MEDIA_TYPE& from);

// Frees one returned by new_media_type or by DirectShow (DeleteMediaType).
void delete_media_type(AM_MEDIA_TYPE* type);

class MediaType {
 public:
  MediaType() = default;
  ~MediaType() { free_media_type(type_); }
  MediaType(MediaType&& other) noexcept : type_(other.type_) { other.type_ = AM_MEDIA_TYPE{}; }
  MediaType& operator=(MediaType&& other) noexcept;
  MediaType(const MediaType&) = delete;
  MediaType& operator=(const MediaType&) = delete;

  // Takes over the contents of `type` (zeroed afterwards).
  static MediaType adopt(AM_MEDIA_TYPE& type);
  HRESULT copy_from(const AM_MEDIA_TYPE& from);

  const AM_MEDIA_TYPE& get() const { return type_; }
  AM_MEDIA_TYPE& get() { return type_; }
  // Empty: never set (majortype GUID_NULL).
  bool empty() const { return type_.majortype == GUID_NULL; }

 private:
  AM_MEDIA_TYPE type_{};
};

}  // namespace korvex::directshow
