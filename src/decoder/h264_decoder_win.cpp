#include <windows.h>
// windows.h must come first.
#include <mfapi.h>
#include <mferror.h>
#include <mftransform.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

#include <fmt/format.h>

#include "decoder/copy_nv12_win.hpp"
#include "decoder/h264_decoder.hpp"
#include "decoder/media_foundation_win.hpp"
#include "decoder/sample_time.hpp"
#include "decoder/sps_picture.hpp"
#include "decoder/start_code.hpp"
#include "platform/com_adopt_win.hpp"
#include "platform/hresult_win.hpp"

// MinGW's headers declare ICodecAPI without its IID for __uuidof.
__CRT_UUID_DECL(ICodecAPI, 0x901DB4C7, 0x31CE, 0x41A2, 0x85, 0xDC, 0x8F, 0xA0, 0xBF, 0x41, 0xB8,
                0xDA)

using Microsoft::WRL::ComPtr;

namespace korvex::decoder {
namespace {

// CMSH264DecoderMFT, the system's H.264 decoder transform.
constexpr GUID kH264DecoderClsid = {
    0x62CE7E72, 0x4C71, 0x4D20, {0xB1, 0x5D, 0x45, 0x28, 0x31, 0xA8, 0x7D, 0x9D}};
// MF_LOW_LATENCY; the codec property CODECAPI_AVLowLatencyMode has the same GUID.
constexpr GUID kLowLatency = {
    0x9C27891A, 0xED7A, 0x40E1, {0x88, 0xE8, 0xB2, 0x27, 0x27, 0xA0, 0x24, 0xEE}};

constexpr UINT32 kProgressive = 2;           // MFVideoInterlace_Progressive
constexpr LONGLONG kFrameDuration = 333333;  // 1/30 s in 100-ns units
constexpr DWORD kProvidesSamples =
    MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES;
// A transform changes its output type once per new stream format; one that
// keeps asking for a new type without a picture in between would hold the
// decode thread for ever.
constexpr int kStreamChangesInARow = 4;

class MfH264Decoder final : public H264Decoder {
 public:
  MfH264Decoder(ComPtr<IMFTransform> transform, uint32_t width, uint32_t height)
      : transform_(std::move(transform)), width_(width), height_(height), stride_(width) {}

  ~MfH264Decoder() override {
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
  }

  Result<void> select_nv12_output();
  Result<void> begin_streaming();
  Result<std::span<const Picture>> decode(Payload data, uint64_t pts_us) override;

  uint32_t width() const override { return visible_area().width; }
  uint32_t height() const override { return visible_area().height; }

 private:
  Result<void> drain(uint64_t pts_us);
  Result<ComPtr<IMFSample>> output_sample();
  void remember_sps(const SpsPicture& picture);
  VisibleArea visible_area() const;

  ComPtr<IMFTransform> transform_;
  uint32_t width_;
  uint32_t height_;
  uint32_t stride_;
  uint32_t output_buffer_size_ = 0;
  uint32_t output_alignment_ = 0;
  bool provides_samples_ = false;

  // The visible picture: the output type's display aperture when it has one,
  // otherwise the cropping of the SPS whose coded size matches the output.
  // A few sizes are kept so that pictures of the previous size, still coming
  // out after a new SPS went in, are cropped right too.
  std::optional<VisibleArea> aperture_;

  // The last call's pictures, copied out of the transform's samples. The
  // frames stay from call to call and are copied into again: a 1080p
  // picture is 3 MiB, and allocating one per picture means fresh pages to
  // fault in for every one.
  std::vector<Nv12Frame> frames_;  // the first `count_` are the last call's
  size_t count_ = 0;
  std::vector<Picture> pictures_;
  std::array<std::optional<SpsPicture>, 4> recent_sps_;  // newest first

  // One output buffer reused for every ProcessOutput call while its size and
  // alignment stay; allocating one per call costs more than the decoding.
  ComPtr<IMFMediaBuffer> output_buffer_;
  uint32_t buffer_size_ = 0;
  uint32_t buffer_alignment_ = 0;
};

Result<void> MfH264Decoder::select_nv12_output() {
  ComPtr<IMFMediaType> type;
  for (DWORD i = 0;; ++i) {
    type.Reset();
    KORVEX_FAIL_IF_FAILED("no NV12 output type offered by the H.264 decoder",
                          transform_->GetOutputAvailableType(0, i, &type));
    GUID subtype{};
    KORVEX_FAIL_IF_FAILED("GetGUID(MF_MT_SUBTYPE)", type->GetGUID(MF_MT_SUBTYPE, &subtype));
    if (subtype == MFVideoFormat_NV12) {
      break;
    }
  }
  KORVEX_FAIL_IF_FAILED("SetOutputType(NV12)", transform_->SetOutputType(0, type.Get(), 0));

  ComPtr<IMFMediaType> current;
  KORVEX_FAIL_IF_FAILED("GetOutputCurrentType", transform_->GetOutputCurrentType(0, &current));
  UINT64 size = 0;
  if (SUCCEEDED(current->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
    width_ = static_cast<uint32_t>(size >> 32);
    height_ = static_cast<uint32_t>(size);
  }
  UINT32 stride = 0;
  if (SUCCEEDED(current->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) {
    const int64_t signed_stride = static_cast<int32_t>(stride);
    stride_ = static_cast<uint32_t>(std::max<int64_t>(std::abs(signed_stride), width_));
  } else {
    stride_ = width_;
  }
  aperture_.reset();
  MFVideoArea area{};
  UINT32 area_size = 0;
  if (SUCCEEDED(current->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area),
                                 sizeof area, &area_size)) &&
      area_size == sizeof area && area.OffsetX.value >= 0 && area.OffsetY.value >= 0 &&
      area.Area.cx > 0 && area.Area.cy > 0) {
    aperture_ = VisibleArea{
        static_cast<uint32_t>(area.OffsetX.value), static_cast<uint32_t>(area.OffsetY.value),
        static_cast<uint32_t>(area.Area.cx), static_cast<uint32_t>(area.Area.cy)};
  }

  MFT_OUTPUT_STREAM_INFO info{};
  KORVEX_FAIL_IF_FAILED("GetOutputStreamInfo", transform_->GetOutputStreamInfo(0, &info));
  provides_samples_ = (info.dwFlags & kProvidesSamples) != 0;
  const uint64_t picture_bytes = uint64_t{width_} * height_ * 3 / 2;
  output_buffer_size_ = static_cast<uint32_t>(
      std::min<uint64_t>(std::max<uint64_t>(info.cbSize, picture_bytes), UINT32_MAX));
  output_alignment_ = info.cbAlignment;
  return {};
}

Result<void> MfH264Decoder::begin_streaming() {
  KORVEX_FAIL_IF_FAILED("NOTIFY_BEGIN_STREAMING",
                        transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0));
  KORVEX_FAIL_IF_FAILED("NOTIFY_START_OF_STREAM",
                        transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0));
  return {};
}

void MfH264Decoder::remember_sps(const SpsPicture& picture) {
  auto same = std::find(recent_sps_.begin(), recent_sps_.end(), picture);
  if (same == recent_sps_.end()) {
    same = recent_sps_.end() - 1;
  }
  std::rotate(recent_sps_.begin(), same, same + 1);
  recent_sps_.front() = picture;
}

VisibleArea MfH264Decoder::visible_area() const {
  if (aperture_) {
    return *aperture_;
  }
  for (const auto& sps : recent_sps_) {
    if (sps && sps->coded_width == width_ && sps->coded_height == height_) {
      return sps->visible;
    }
  }
  return {0, 0, width_, height_};
}

Result<ComPtr<IMFSample>> MfH264Decoder::output_sample() {
  if (!output_buffer_ || buffer_size_ != output_buffer_size_ ||
      buffer_alignment_ != output_alignment_) {
    output_buffer_.Reset();
    const HRESULT hr = output_alignment_ != 0
                           ? MFCreateAlignedMemoryBuffer(output_buffer_size_, output_alignment_ - 1,
                                                         &output_buffer_)
                           : MFCreateMemoryBuffer(output_buffer_size_, &output_buffer_);
    if (FAILED(hr)) {
      output_buffer_.Reset();
      return platform::step_failure("output buffer", hr);
    }
    buffer_size_ = output_buffer_size_;
    buffer_alignment_ = output_alignment_;
  }
  // A fresh sample around the kept buffer: a sample carries its time from one
  // picture to the next, and a picture without one must not inherit it.
  output_buffer_->SetCurrentLength(0);
  ComPtr<IMFSample> sample;
  KORVEX_FAIL_IF_FAILED("MFCreateSample", MFCreateSample(&sample));
  KORVEX_FAIL_IF_FAILED("AddBuffer", sample->AddBuffer(output_buffer_.Get()));
  return sample;
}

Result<void> MfH264Decoder::drain(uint64_t pts_us) {
  int stream_changes = 0;  // in a row
  for (;;) {
    ComPtr<IMFSample> sample;
    if (!provides_samples_) {
      auto prepared = output_sample();
      if (!prepared) {
        return fail(prepared.error());
      }
      sample = std::move(prepared).value();
    }
    MFT_OUTPUT_DATA_BUFFER output{0, sample.Get(), 0, nullptr};
    DWORD status = 0;
    const HRESULT hr = transform_->ProcessOutput(0, 1, &output, &status);
    platform::adopt(output.pEvents);  // events are not used; the reference is ours
    ComPtr<IMFSample> produced = sample;
    if (provides_samples_ && output.pSample != nullptr) {
      produced = platform::adopt(output.pSample);  // the transform's sample is ours to release
    }
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
      return {};
    }
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      if (++stream_changes > kStreamChangesInARow) {
        return fail(
            fmt::format("ProcessOutput: output type changed {} times in a row", stream_changes));
      }
      if (auto selected = select_nv12_output(); !selected) {
        return selected;
      }
      continue;
    }
    if (FAILED(hr)) {
      return platform::step_failure("ProcessOutput", hr);
    }
    if ((output.dwStatus & MFT_OUTPUT_DATA_BUFFER_FORMAT_CHANGE) != 0) {
      if (auto selected = select_nv12_output(); !selected) {
        return selected;
      }
    }
    stream_changes = 0;
    if (produced) {
      if (count_ == frames_.size()) {
        frames_.emplace_back();
      }
      if (auto copied = copy_nv12_into(produced.Get(), width_, height_, stride_, pts_us,
                                       visible_area(), frames_[count_]);
          !copied) {
        return copied;
      }
      ++count_;
    }
  }
}

Result<std::span<const Picture>> MfH264Decoder::decode(Payload payload, uint64_t pts_us) {
  count_ = 0;
  pictures_.clear();
  const std::span<const uint8_t> data = payload.bytes();
  // Not H.264: garbage from a peer, which the transform would copy and
  // search through at the cost of several copies of its size.
  if (!data.empty() && !opens_with_start_code(data)) {
    return fail("access unit: does not open with a start code");
  }
  if (auto picture = find_sps_picture(data)) {
    remember_sps(*picture);
  }
  const auto length = static_cast<DWORD>(data.size());
  ComPtr<IMFMediaBuffer> buffer;
  KORVEX_FAIL_IF_FAILED("MFCreateMemoryBuffer", MFCreateMemoryBuffer(length, &buffer));
  BYTE* bytes = nullptr;
  KORVEX_FAIL_IF_FAILED("Lock", buffer->Lock(&bytes, nullptr, nullptr));
  std::copy(data.begin(), data.end(), bytes);
  payload = Payload();  // the transform has its own copy; a large one need not be held twice
  KORVEX_FAIL_IF_FAILED("Unlock", buffer->Unlock());
  KORVEX_FAIL_IF_FAILED("SetCurrentLength", buffer->SetCurrentLength(length));

  ComPtr<IMFSample> sample;
  KORVEX_FAIL_IF_FAILED("MFCreateSample", MFCreateSample(&sample));
  KORVEX_FAIL_IF_FAILED("AddBuffer", sample->AddBuffer(buffer.Get()));
  KORVEX_FAIL_IF_FAILED("SetSampleTime", sample->SetSampleTime(sample_time_100ns(pts_us)));
  sample->SetSampleDuration(kFrameDuration);

  for (;;) {
    const HRESULT hr = transform_->ProcessInput(0, sample.Get(), 0);
    if (SUCCEEDED(hr)) {
      if (auto drained = drain(pts_us); !drained) {
        return fail(drained.error());
      }
      for (size_t i = 0; i < count_; ++i) {
        pictures_.push_back(picture_of(frames_[i]));
      }
      return std::span<const Picture>(pictures_);
    }
    if (hr != MF_E_NOTACCEPTING) {
      return platform::step_failure("ProcessInput", hr);
    }
    // The transform holds pictures back: take them out, then offer the
    // input again, but only while taking out makes progress.
    const size_t before = count_;
    if (auto drained = drain(pts_us); !drained) {
      return fail(drained.error());
    }
    if (count_ == before) {
      return fail("decoder refuses input and produces no output");
    }
  }
}

}  // namespace

Result<std::unique_ptr<H264Decoder>> H264Decoder::create(uint32_t width, uint32_t height) {
  if (auto started = ensure_media_foundation(); !started) {
    return fail(started.error());
  }
  uint32_t w = width != 0 ? width : 1280;
  uint32_t h = height != 0 ? height : 720;
  // The system decoder goes up to level 5.1, 36,864 macroblocks a picture: a
  // larger announced size cannot be the stream's, and starting from it would
  // only size the output buffers for it (8192x8192: 96 MiB) until the first
  // picture brings the stream's own.
  if (uint64_t{(w + 15) / 16} * ((h + 15) / 16) > 36'864) {
    w = 1280;
    h = 720;
  }

  ComPtr<IMFTransform> transform;
  KORVEX_FAIL_IF_FAILED(
      "CoCreateInstance(CMSH264DecoderMFT)",
      CoCreateInstance(kH264DecoderClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&transform)));

  // Low latency, asked both ways; decoders that ignore either are still used.
  ComPtr<IMFAttributes> attributes;
  if (SUCCEEDED(transform->GetAttributes(&attributes)) && attributes) {
    attributes->SetUINT32(kLowLatency, TRUE);
  }
  ComPtr<ICodecAPI> codec_api;
  if (SUCCEEDED(transform.As(&codec_api))) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    codec_api->SetValue(&kLowLatency, &value);
    VariantClear(&value);
  }

  ComPtr<IMFMediaType> input;
  KORVEX_FAIL_IF_FAILED("MFCreateMediaType", MFCreateMediaType(&input));
  KORVEX_FAIL_IF_FAILED("SetGUID(MF_MT_MAJOR_TYPE)",
                        input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
  KORVEX_FAIL_IF_FAILED("SetGUID(MF_MT_SUBTYPE)",
                        input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264));
  KORVEX_FAIL_IF_FAILED("SetUINT64(MF_MT_FRAME_SIZE)",
                        input->SetUINT64(MF_MT_FRAME_SIZE, (UINT64{w} << 32) | h));
  KORVEX_FAIL_IF_FAILED("SetUINT64(MF_MT_FRAME_RATE)",
                        input->SetUINT64(MF_MT_FRAME_RATE, (UINT64{30} << 32) | 1));
  KORVEX_FAIL_IF_FAILED("SetUINT32(MF_MT_INTERLACE_MODE)",
                        input->SetUINT32(MF_MT_INTERLACE_MODE, kProgressive));
  KORVEX_FAIL_IF_FAILED(fmt::format("SetInputType(H264 {}x{})", w, h),
                        transform->SetInputType(0, input.Get(), 0));

  // From here on a failure ends streaming as the decoder's destruction does.
  auto decoder = std::make_unique<MfH264Decoder>(std::move(transform), w, h);
  if (auto selected = decoder->select_nv12_output(); !selected) {
    return fail(selected.error());
  }
  if (auto begun = decoder->begin_streaming(); !begun) {
    return fail(begun.error());
  }
  return std::unique_ptr<H264Decoder>(std::move(decoder));
}

void init_decoder_thread() {
  // The result is ignored: a thread already in an apartment keeps it.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

}  // namespace korvex::decoder
