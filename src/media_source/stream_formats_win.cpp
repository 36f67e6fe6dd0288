#include "media_source/stream_formats_win.hpp"

#include <mfapi.h>

#include "platform/hresult_win.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

constexpr UINT32 kProgressive = 2;  // MFVideoInterlace_Progressive
// The phone's pictures go out as they were decoded, so every size carries
// the phone's colour: HD video in BT.709, video range (16-235), which the
// placeholder and the bars keep to as well.
constexpr UINT32 kBt709 = 1;       // MFVideoTransferMatrix_BT709
constexpr UINT32 kVideoRange = 2;  // MFNominalRange_16_235

GUID subtype(picture::PixelFormat pixels) {
  return pixels == picture::PixelFormat::nv12 ? MFVideoFormat_NV12 : MFVideoFormat_YUY2;
}

UINT64 pack(UINT32 high, UINT32 low) {
  return UINT64{high} << 32 | low;
}

}  // namespace

uint32_t default_stride(const StreamFormat& format) {
  return format.pixels == picture::PixelFormat::nv12 ? format.width : 2 * format.width;
}

DWORD fourcc(picture::PixelFormat pixels) {
  return subtype(pixels).Data1;  // video subtypes carry their FOURCC here
}

LONGLONG frame_duration(const StreamFormat& format) {
  return static_cast<LONGLONG>(picture::frame_period(format.rate).count() / 100);
}

HRESULT create_media_type(const StreamFormat& format, ComPtr<IMFMediaType>& out) {
  ComPtr<IMFMediaType> type;
  KORVEX_RETURN_IF_FAILED("MFCreateMediaType", MFCreateMediaType(&type));
  const auto size =
      static_cast<UINT32>(picture::packed_size(format.pixels, format.width, format.height));
  const auto bitrate = static_cast<UINT32>(picture::bits_per_second(format));
  KORVEX_RETURN_IF_FAILED("MF_MT_MAJOR_TYPE", type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
  KORVEX_RETURN_IF_FAILED("MF_MT_SUBTYPE", type->SetGUID(MF_MT_SUBTYPE, subtype(format.pixels)));
  KORVEX_RETURN_IF_FAILED("MF_MT_FRAME_SIZE",
                          type->SetUINT64(MF_MT_FRAME_SIZE, pack(format.width, format.height)));
  KORVEX_RETURN_IF_FAILED(
      "MF_MT_FRAME_RATE",
      type->SetUINT64(MF_MT_FRAME_RATE, pack(format.rate.numerator, format.rate.denominator)));
  KORVEX_RETURN_IF_FAILED(
      "MF_MT_FRAME_RATE_RANGE_MIN",
      type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MIN,
                      pack(picture::kSlowestRate.numerator, picture::kSlowestRate.denominator)));
  KORVEX_RETURN_IF_FAILED(
      "MF_MT_FRAME_RATE_RANGE_MAX",
      type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MAX,
                      pack(picture::kFastestRate.numerator, picture::kFastestRate.denominator)));
  KORVEX_RETURN_IF_FAILED("MF_MT_PIXEL_ASPECT_RATIO",
                          type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, pack(1, 1)));
  KORVEX_RETURN_IF_FAILED("MF_MT_INTERLACE_MODE",
                          type->SetUINT32(MF_MT_INTERLACE_MODE, kProgressive));
  KORVEX_RETURN_IF_FAILED("MF_MT_DEFAULT_STRIDE",
                          type->SetUINT32(MF_MT_DEFAULT_STRIDE, default_stride(format)));
  KORVEX_RETURN_IF_FAILED("MF_MT_FIXED_SIZE_SAMPLES",
                          type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE));
  KORVEX_RETURN_IF_FAILED("MF_MT_SAMPLE_SIZE", type->SetUINT32(MF_MT_SAMPLE_SIZE, size));
  KORVEX_RETURN_IF_FAILED("MF_MT_ALL_SAMPLES_INDEPENDENT",
                          type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
  KORVEX_RETURN_IF_FAILED("MF_MT_YUV_MATRIX", type->SetUINT32(MF_MT_YUV_MATRIX, kBt709));
  KORVEX_RETURN_IF_FAILED("MF_MT_VIDEO_NOMINAL_RANGE",
                          type->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, kVideoRange));
  KORVEX_RETURN_IF_FAILED("MF_MT_AVG_BITRATE", type->SetUINT32(MF_MT_AVG_BITRATE, bitrate));
  out = std::move(type);
  return S_OK;
}

std::optional<StreamFormat> format_of(IMFMediaType* type) {
  GUID found_subtype{};
  UINT64 frame_size = 0;
  if (type == nullptr || FAILED(type->GetGUID(MF_MT_SUBTYPE, &found_subtype)) ||
      FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &frame_size))) {
    return std::nullopt;
  }
  UINT64 rate = 0;
  const picture::FrameRate frame_rate =
      SUCCEEDED(type->GetUINT64(MF_MT_FRAME_RATE, &rate))
          ? picture::FrameRate{static_cast<uint32_t>(rate >> 32), static_cast<uint32_t>(rate)}
          : picture::kFastestRate;
  for (const picture::PixelFormat pixels :
       {picture::PixelFormat::nv12, picture::PixelFormat::yuy2}) {
    if (found_subtype == subtype(pixels)) {
      return picture::offered_format(pixels, static_cast<uint32_t>(frame_size >> 32),
                                     static_cast<uint32_t>(frame_size), frame_rate);
    }
  }
  return std::nullopt;
}

}  // namespace korvex::media_source
