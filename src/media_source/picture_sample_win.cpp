#include "media_source/picture_sample_win.hpp"

#include <mfapi.h>
#include <mferror.h>

#include "platform/hresult_win.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

// Renders into the buffer through the pitch its lock gives; fails, leaving
// the picture unrendered, when the locked memory cannot hold it.
HRESULT render_into(IMFMediaBuffer* buffer, const StreamFormat& format,
                    picture::CameraPicture& picture) {
  ComPtr<IMF2DBuffer2> surface;
  KORVEX_RETURN_IF_FAILED("IMF2DBuffer2", buffer->QueryInterface(IID_PPV_ARGS(&surface)));
  BYTE* first_row = nullptr;
  LONG pitch = 0;
  BYTE* start = nullptr;
  DWORD length = 0;
  KORVEX_RETURN_IF_FAILED("Lock2DSize", surface->Lock2DSize(MF2DBuffer_LockFlags_Write, &first_row,
                                                            &pitch, &start, &length));
  const uint64_t rows =
      format.pixels == picture::PixelFormat::nv12 ? uint64_t{format.height} * 3 / 2 : format.height;
  const uint64_t row_bytes = default_stride(format);
  // A bottom-up or short buffer is refused rather than written past its end.
  const bool fits = pitch > 0 && static_cast<uint64_t>(pitch) >= row_bytes && first_row >= start &&
                    static_cast<uint64_t>(first_row - start) +
                            (rows - 1) * static_cast<uint64_t>(pitch) + row_bytes <=
                        length;
  if (fits) {
    picture.render(picture::PictureBuffer{format.pixels, format.width, format.height, first_row,
                                          static_cast<uint32_t>(pitch)});
  }
  surface->Unlock2D();
  if (!fits) {
    return platform::traced_failure("buffer for the picture", MF_E_BUFFERTOOSMALL);
  }
  DWORD filled = 0;
  KORVEX_RETURN_IF_FAILED("GetContiguousLength", surface->GetContiguousLength(&filled));
  KORVEX_RETURN_IF_FAILED("SetCurrentLength", buffer->SetCurrentLength(filled));
  return S_OK;
}

HRESULT render_into_allocated(const StreamFormat& format, IMFVideoSampleAllocator* allocator,
                              picture::CameraPicture& picture, ComPtr<IMFSample>& out) {
  ComPtr<IMFSample> sample;
  // Every sample out (the pipeline still holds them) is an answer, not a
  // fault: the caller takes a buffer of its own.
  if (const HRESULT hr = allocator->AllocateSample(&sample); FAILED(hr)) {
    return hr;
  }
  ComPtr<IMFMediaBuffer> buffer;
  KORVEX_RETURN_IF_FAILED("allocated GetBufferByIndex", sample->GetBufferByIndex(0, &buffer));
  KORVEX_RETURN_IF_FAILED("allocated buffer", render_into(buffer.Get(), format, picture));
  out = std::move(sample);
  return S_OK;
}

HRESULT render_into_own(const StreamFormat& format, picture::CameraPicture& picture,
                        ComPtr<IMFSample>& out) {
  ComPtr<IMFMediaBuffer> buffer;
  KORVEX_RETURN_IF_FAILED(
      "MFCreate2DMediaBuffer",
      MFCreate2DMediaBuffer(format.width, format.height, fourcc(format.pixels), FALSE, &buffer));
  KORVEX_RETURN_IF_FAILED("own buffer", render_into(buffer.Get(), format, picture));
  ComPtr<IMFSample> sample;
  KORVEX_RETURN_IF_FAILED("MFCreateSample", MFCreateSample(&sample));
  KORVEX_RETURN_IF_FAILED("AddBuffer", sample->AddBuffer(buffer.Get()));
  out = std::move(sample);
  return S_OK;
}

}  // namespace

HRESULT make_picture_sample(const StreamFormat& format, IMFVideoSampleAllocator* allocator,
                            IUnknown* token, picture::CameraPicture& picture,
                            ComPtr<IMFSample>& out) {
  ComPtr<IMFSample> sample;
  // An allocator with every sample out or with buffers we cannot use must
  // not stall the camera.
  if (allocator == nullptr || FAILED(render_into_allocated(format, allocator, picture, sample))) {
    KORVEX_RETURN_IF_FAILED("picture sample", render_into_own(format, picture, sample));
  }
  KORVEX_RETURN_IF_FAILED("SetSampleTime", sample->SetSampleTime(MFGetSystemTime()));
  KORVEX_RETURN_IF_FAILED("SetSampleDuration", sample->SetSampleDuration(frame_duration(format)));
  if (token != nullptr) {
    KORVEX_RETURN_IF_FAILED("MFSampleExtension_Token",
                            sample->SetUnknown(MFSampleExtension_Token, token));
  }
  out = std::move(sample);
  return S_OK;
}

}  // namespace korvex::media_source
