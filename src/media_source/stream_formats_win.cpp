#include "media_source/stream_formats_win.hpp"

#include <mfapi.h>

#include "media_source/first_failure_win.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

constexpr UINT32 kProgressive = 2;  // MFVideoInterlace_Progressive

GUID subtype(picture::PixelFormat pixels) {
  return pixels == picture::PixelFormat::nv12 ? MFVideoFormat_NV12 : MFVideoFormat_YUY2;
}

}  // namespace

uint32_t default_stride(const StreamFormat& format) {
  return format.pixels == picture::PixelFormat::nv12 ? format.width : 2 * format.width;
}

DWORD fourcc(picture::PixelFormat pixels) {
  return subtype(pixels).Data1;  // video subtypes carry their FOURCC here
}

HRESULT create_media_type(const StreamFormat& format, ComPtr<IMFMediaType>& out) {
  ComPtr<IMFMediaType> type;
  const HRESULT created = MFCreateMediaType(&type);
  if (FAILED(created)) {
    return created;
  }
  const auto pack = [](UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; };
  const auto size =
      static_cast<UINT32>(picture::packed_size(format.pixels, format.width, format.height));
  FirstFailure hr;
  hr << type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  hr << type->SetGUID(MF_MT_SUBTYPE, subtype(format.pixels));
  hr << type->SetUINT64(MF_MT_FRAME_SIZE, pack(format.width, format.height));
  hr << type->SetUINT64(MF_MT_FRAME_RATE, pack(kFramesPerSecond, 1));
  hr << type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, pack(1, 1));
  hr << type->SetUINT32(MF_MT_INTERLACE_MODE, kProgressive);
  hr << type->SetUINT32(MF_MT_DEFAULT_STRIDE, default_stride(format));
  hr << type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
  hr << type->SetUINT32(MF_MT_SAMPLE_SIZE, size);
  hr << type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (SUCCEEDED(hr.result())) {
    out = std::move(type);
  }
  return hr.result();
}

std::optional<StreamFormat> format_of(IMFMediaType* type) {
  GUID found_subtype{};
  UINT64 frame_size = 0;
  if (type == nullptr || FAILED(type->GetGUID(MF_MT_SUBTYPE, &found_subtype)) ||
      FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &frame_size))) {
    return std::nullopt;
  }
  for (const StreamFormat& format : kStreamFormats) {
    if (found_subtype == subtype(format.pixels) && frame_size >> 32 == format.width &&
        (frame_size & 0xFFFFFFFF) == format.height) {
      return format;
    }
  }
  return std::nullopt;
}

}  // namespace korvex::media_source
