#include "capture_filter/video_media_type_win.hpp"

#include <amvideo.h>
#include <objbase.h>
#include <uuids.h>

namespace korvex::capture_filter {
namespace {

bool is_fully_given(const AM_MEDIA_TYPE& type) {
  return type.majortype != GUID_NULL && type.subtype != GUID_NULL && type.formattype != GUID_NULL;
}

}  // namespace

GUID subtype_of(picture::PixelFormat pixels) {
  return GUID{fourcc(pixels), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

HRESULT make_media_type(const StreamChoice& choice, directshow::MediaType& out) {
  auto* info = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
  if (info == nullptr) {
    return E_OUTOFMEMORY;
  }
  *info = VIDEOINFOHEADER{};
  const CaptureFormat& format = choice.format;
  info->dwBitRate = bit_rate(choice);
  info->AvgTimePerFrame = choice.interval;
  BITMAPINFOHEADER& bitmap = info->bmiHeader;
  bitmap.biSize = sizeof(BITMAPINFOHEADER);
  bitmap.biWidth = static_cast<LONG>(format.width);
  bitmap.biHeight = static_cast<LONG>(format.height);
  bitmap.biPlanes = 1;
  bitmap.biBitCount = bits_per_pixel(format.pixels);
  bitmap.biCompression = fourcc(format.pixels);
  bitmap.biSizeImage = image_size(format);

  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = subtype_of(format.pixels);
  type.bFixedSizeSamples = TRUE;
  type.bTemporalCompression = FALSE;
  type.lSampleSize = image_size(format);
  type.formattype = FORMAT_VideoInfo;
  type.cbFormat = sizeof(VIDEOINFOHEADER);
  type.pbFormat = reinterpret_cast<BYTE*>(info);
  out = directshow::MediaType::adopt(type);
  return S_OK;
}

std::optional<StreamChoice> choice_of(const AM_MEDIA_TYPE& type) {
  if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
      type.pbFormat == nullptr || type.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return std::nullopt;
  }
  const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  const BITMAPINFOHEADER& bitmap = info->bmiHeader;
  const std::optional<StreamChoice> choice =
      choose(VideoRequest{bitmap.biCompression, bitmap.biBitCount, bitmap.biWidth, bitmap.biHeight,
                          bitmap.biSizeImage, info->AvgTimePerFrame});
  if (!choice || (type.subtype != GUID_NULL && type.subtype != subtype_of(choice->format.pixels))) {
    return std::nullopt;
  }
  return choice;
}

bool allows(const AM_MEDIA_TYPE& partial, const StreamChoice& choice) {
  if (is_fully_given(partial)) {
    return choice_of(partial) == choice;
  }
  return (partial.majortype == GUID_NULL || partial.majortype == MEDIATYPE_Video) &&
         (partial.subtype == GUID_NULL || partial.subtype == subtype_of(choice.format.pixels)) &&
         (partial.formattype == GUID_NULL || partial.formattype == FORMAT_VideoInfo);
}

VIDEO_STREAM_CONFIG_CAPS stream_caps(const CaptureFormat& format) {
  VIDEO_STREAM_CONFIG_CAPS caps{};
  caps.guid = FORMAT_VideoInfo;
  caps.VideoStandard = 0;  // AnalogVideo_None
  const SIZE size{static_cast<LONG>(format.width), static_cast<LONG>(format.height)};
  caps.InputSize = size;
  caps.MinCroppingSize = size;
  caps.MaxCroppingSize = size;
  caps.MinOutputSize = size;
  caps.MaxOutputSize = size;
  caps.CropGranularityX = 1;
  caps.CropGranularityY = 1;
  caps.CropAlignX = 1;
  caps.CropAlignY = 1;
  caps.MinFrameInterval = kShortestInterval;
  caps.MaxFrameInterval = kLongestInterval;
  caps.MinBitsPerSecond = static_cast<LONG>(bit_rate({format, kLongestInterval}));
  caps.MaxBitsPerSecond = static_cast<LONG>(bit_rate({format, kShortestInterval}));
  return caps;
}

}  // namespace korvex::capture_filter
