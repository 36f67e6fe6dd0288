#include "media_source/picture_sample_win.hpp"

#include <mfapi.h>
#include <mferror.h>

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

// Renders into the buffer through the pitch its lock gives; fails, leaving
// the picture unrendered, when the locked memory cannot hold it.
HRESULT render_into(IMFMediaBuffer* buffer, const StreamFormat& format,
                    picture::CameraPicture& picture) {
  ComPtr<IMF2DBuffer2> surface;
  HRESULT hr = buffer->QueryInterface(IID_PPV_ARGS(&surface));
  if (FAILED(hr)) {
    return hr;
  }
  BYTE* first_row = nullptr;
  LONG pitch = 0;
  BYTE* start = nullptr;
  DWORD length = 0;
  hr = surface->Lock2DSize(MF2DBuffer_LockFlags_Write, &first_row, &pitch, &start, &length);
  if (FAILED(hr)) {
    return hr;
  }
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
    return MF_E_BUFFERTOOSMALL;
  }
  DWORD filled = 0;
  hr = surface->GetContiguousLength(&filled);
  return SUCCEEDED(hr) ? buffer->SetCurrentLength(filled) : hr;
}

HRESULT render_into_allocated(const StreamFormat& format, IMFVideoSampleAllocator* allocator,
                              picture::CameraPicture& picture, ComPtr<IMFSample>& out) {
  ComPtr<IMFSample> sample;
  HRESULT hr = allocator->AllocateSample(&sample);
  ComPtr<IMFMediaBuffer> buffer;
  if (SUCCEEDED(hr)) {
    hr = sample->GetBufferByIndex(0, &buffer);
  }
  if (SUCCEEDED(hr)) {
    hr = render_into(buffer.Get(), format, picture);
  }
  if (SUCCEEDED(hr)) {
    out = std::move(sample);
  }
  return hr;
}

HRESULT render_into_own(const StreamFormat& format, picture::CameraPicture& picture,
                        ComPtr<IMFSample>& out) {
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr =
      MFCreate2DMediaBuffer(format.width, format.height, fourcc(format.pixels), FALSE, &buffer);
  if (SUCCEEDED(hr)) {
    hr = render_into(buffer.Get(), format, picture);
  }
  ComPtr<IMFSample> sample;
  if (SUCCEEDED(hr)) {
    hr = MFCreateSample(&sample);
  }
  if (SUCCEEDED(hr)) {
    hr = sample->AddBuffer(buffer.Get());
  }
  if (SUCCEEDED(hr)) {
    out = std::move(sample);
  }
  return hr;
}

}  // namespace

HRESULT make_picture_sample(const StreamFormat& format, IMFVideoSampleAllocator* allocator,
                            IUnknown* token, picture::CameraPicture& picture,
                            ComPtr<IMFSample>& out) {
  ComPtr<IMFSample> sample;
  // An allocator with every sample out (the pipeline still holds them) or
  // with buffers we cannot use must not stall the camera.
  if (allocator == nullptr || FAILED(render_into_allocated(format, allocator, picture, sample))) {
    const HRESULT hr = render_into_own(format, picture, sample);
    if (FAILED(hr)) {
      return hr;
    }
  }
  HRESULT hr = sample->SetSampleTime(MFGetSystemTime());
  if (SUCCEEDED(hr)) {
    hr = sample->SetSampleDuration(kFrameDuration);
  }
  if (SUCCEEDED(hr) && token != nullptr) {
    hr = sample->SetUnknown(MFSampleExtension_Token, token);
  }
  if (SUCCEEDED(hr)) {
    out = std::move(sample);
  }
  return hr;
}

}  // namespace korvex::media_source
