#include "camera/media_foundation_camera_win.hpp"

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstring>

#include "decoder/copy_nv12_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::camera {
namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD kFirstVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

Guid guid_of(const GUID& guid) {
  Guid out;
  out.data1 = guid.Data1;
  out.data2 = guid.Data2;
  out.data3 = guid.Data3;
  std::memcpy(out.data4.data(), guid.Data4, sizeof guid.Data4);
  return out;
}

class MediaFoundationSample final : public Sample {
 public:
  explicit MediaFoundationSample(ComPtr<IMFSample> sample) : sample_(std::move(sample)) {}

  Result<Nv12Frame> nv12(uint32_t width, uint32_t height, uint64_t fallback_us) override {
    // The selected type has no padding of its own: rows are `width` apart.
    return decoder::copy_nv12(sample_.Get(), width, height, width, fallback_us);
  }

 private:
  ComPtr<IMFSample> sample_;
};

class SourceReader final : public Reader {
 public:
  SourceReader(ComPtr<IMFMediaSource> source, ComPtr<IMFSourceReader> reader)
      : source_(std::move(source)), reader_(std::move(reader)) {}

  std::optional<MediaType> native_type(uint32_t index) override {
    ComPtr<IMFMediaType> type;
    if (FAILED(reader_->GetNativeMediaType(kFirstVideoStream, index, &type)) || !type) {
      return std::nullopt;  // normally the end of the list
    }
    // A figure that cannot be read stays blank; the listing goes on.
    MediaType out;
    GUID subtype = GUID_NULL;
    if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) {
      out.subtype = guid_of(subtype);
    }
    UINT64 size = 0;
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
      out.width = static_cast<uint32_t>(size >> 32);
      out.height = static_cast<uint32_t>(size);
    }
    UINT64 rate = 0;
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_RATE, &rate)) && static_cast<uint32_t>(rate) != 0) {
      out.fps = static_cast<double>(rate >> 32) / static_cast<uint32_t>(rate);
    }
    return out;
  }

  bool converts_yuy2() const override { return false; }

  Result<void> select(uint32_t index) override {
    ComPtr<IMFMediaType> type;
    HRESULT hr = reader_->GetNativeMediaType(kFirstVideoStream, index, &type);
    if (FAILED(hr)) {
      return platform::step_failure("GetNativeMediaType", hr);
    }
    hr = reader_->SetCurrentMediaType(kFirstVideoStream, nullptr, type.Get());
    if (FAILED(hr)) {
      return platform::step_failure("SetCurrentMediaType", hr);
    }
    return {};
  }

  Result<ReadResult> read() override {
    DWORD flags = 0;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    const HRESULT hr = reader_->ReadSample(kFirstVideoStream, 0, nullptr, &flags, &time, &sample);
    if (FAILED(hr)) {
      return platform::step_failure("ReadSample", hr);
    }
    ReadResult result;
    result.error = (flags & MF_SOURCE_READERF_ERROR) != 0;
    result.end_of_stream = (flags & MF_SOURCE_READERF_ENDOFSTREAM) != 0;
    result.time = time;
    if (sample) {
      result.sample = std::make_unique<MediaFoundationSample>(std::move(sample));
    }
    return result;
  }

  void shutdown() override { source_->Shutdown(); }

 private:
  ComPtr<IMFMediaSource> source_;
  ComPtr<IMFSourceReader> reader_;  // released before the source
};

class MediaFoundationActivation final : public Activation {
 public:
  explicit MediaFoundationActivation(ComPtr<IMFActivate> activate)
      : activate_(std::move(activate)) {}

  Result<std::unique_ptr<Reader>> activate() override {
    ComPtr<IMFMediaSource> source;
    HRESULT hr = activate_->ActivateObject(IID_PPV_ARGS(&source));
    if (SUCCEEDED(hr) && !source) {
      hr = E_POINTER;
    }
    if (FAILED(hr)) {
      return platform::step_failure("ActivateObject", hr);
    }
    ComPtr<IMFSourceReader> reader;
    hr = MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
    if (FAILED(hr)) {
      return platform::step_failure("MFCreateSourceReaderFromMediaSource", hr);
    }
    return std::unique_ptr<Reader>(
        std::make_unique<SourceReader>(std::move(source), std::move(reader)));
  }

 private:
  ComPtr<IMFActivate> activate_;
};

}  // namespace

std::unique_ptr<Activation> media_foundation_activation(ComPtr<IMFActivate> activate) {
  return std::make_unique<MediaFoundationActivation>(std::move(activate));
}

}  // namespace korvex::camera
