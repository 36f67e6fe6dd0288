// The output layer over WASAPI: the device enumerator's active render
// endpoints, their friendly names, the mix format, and event-driven
// shared-mode render streams.

#include <windows.h>
// windows.h must come first.
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <wrl/client.h>
// Defines the property keys below instead of only declaring them.
#include <initguid.h>
// initguid.h must come before the key's header.
#include <functiondiscoverykeys_devpkey.h>

#include <memory>

#include <fmt/format.h>

#include "audio/audio_host.hpp"
#include "audio/endpoint_fill.hpp"
#include "audio/render_thread.hpp"
#include "platform/hresult_win.hpp"
#include "platform/os_error.hpp"
#include "platform/system_text_win.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::audio {
namespace {

using Microsoft::WRL::ComPtr;

// Rates probed for the configuration ranges, lowest first.
constexpr DWORD kProbeRates[] = {8000,  11025, 16000, 22050,  32000, 44100,
                                 48000, 88200, 96000, 176400, 192000};

// The render thread wakes at least this often to notice a stop request even
// when the endpoint has stopped signalling.
constexpr DWORD kWakeMs = 200;

std::string step_error(const char* step, HRESULT hr) {
  if (hr == AUDCLNT_E_DEVICE_INVALIDATED) {
    return fmt::format("{}: the endpoint was removed or disabled (0x{:08X})", step,
                       static_cast<uint32_t>(hr));
  }
  return platform::step_text(step, hr);
}

// Owner of the mix format WASAPI allocates.
struct CoTaskMemFreer {
  void operator()(void* memory) const { CoTaskMemFree(memory); }
};
using MixFormat = std::unique_ptr<WAVEFORMATEX, CoTaskMemFreer>;

class PropVariant {
 public:
  PropVariant() { PropVariantInit(&value_); }
  ~PropVariant() { PropVariantClear(&value_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  PROPVARIANT* get() { return &value_; }
  const PROPVARIANT& operator*() const { return value_; }

 private:
  PROPVARIANT value_;
};

// COM for this thread, in the multithreaded apartment; undone on scope exit
// if this call did it.
class ComApartment {
 public:
  ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComApartment() {
    if (initialised_) {
      CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_;
};

// KSDATAFORMAT_SUBTYPE_PCM / _IEEE_FLOAT: the format tag in the first field
// of a fixed GUID.
GUID subtype_of(WORD tag) {
  return GUID{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

Result<SampleFormat> sample_format_of(const WAVEFORMATEX& format) {
  WORD tag = format.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= 22) {
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    if (IsEqualGUID(extensible.SubFormat, subtype_of(WAVE_FORMAT_IEEE_FLOAT))) {
      tag = WAVE_FORMAT_IEEE_FLOAT;
    } else if (IsEqualGUID(extensible.SubFormat, subtype_of(WAVE_FORMAT_PCM))) {
      tag = WAVE_FORMAT_PCM;
    }
  }
  if (tag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32) {
    return SampleFormat::F32;
  }
  if (tag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 64) {
    return SampleFormat::F64;
  }
  if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 8) {
    return SampleFormat::U8;
  }
  if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16) {
    return SampleFormat::I16;
  }
  if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 32) {
    return SampleFormat::I32;
  }
  return fail(fmt::format("mix format tag 0x{:04X} with {} bits has no sample format name", tag,
                          format.wBitsPerSample));
}

// The WASAPI format for a stream configuration; the channel mask is the mix
// format's when the channel count matches, otherwise the usual layout.
Result<WAVEFORMATEXTENSIBLE> wave_format(const StreamConfig& config, const WAVEFORMATEX& mix) {
  WORD tag = WAVE_FORMAT_PCM;
  switch (config.format) {
    case SampleFormat::F32:
    case SampleFormat::F64:
      tag = WAVE_FORMAT_IEEE_FLOAT;
      break;
    case SampleFormat::U8:
    case SampleFormat::I16:
    case SampleFormat::I32:
      break;
    default:
      return fail(fmt::format("WASAPI has no {} samples", sample_format_name(config.format)));
  }
  const auto bits = static_cast<WORD>(sample_size(config.format) * 8);
  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = config.channels;
  format.Format.nSamplesPerSec = config.sample_rate;
  format.Format.wBitsPerSample = bits;
  format.Format.nBlockAlign = static_cast<WORD>(config.channels * bits / 8);
  format.Format.nAvgBytesPerSec = config.sample_rate * format.Format.nBlockAlign;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = bits;
  if (mix.wFormatTag == WAVE_FORMAT_EXTENSIBLE && mix.cbSize >= 22 &&
      mix.nChannels == config.channels) {
    format.dwChannelMask = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(mix).dwChannelMask;
  } else if (config.channels == 1) {
    format.dwChannelMask = SPEAKER_FRONT_CENTER;
  } else if (config.channels == 2) {
    format.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  }
  format.SubFormat = subtype_of(tag);
  return format;
}

// A fresh audio client of the endpoint and the format its engine mixes at.
struct ClientAndMix {
  ComPtr<IAudioClient> client;
  MixFormat mix;
};

Result<ClientAndMix> activate_client(IMMDevice& device) {
  ClientAndMix out;
  HRESULT hr = device.Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                               reinterpret_cast<void**>(out.client.GetAddressOf()));
  if (FAILED(hr)) {
    return fail(step_error("IMMDevice::Activate", hr));
  }
  WAVEFORMATEX* raw = nullptr;
  hr = out.client->GetMixFormat(&raw);
  out.mix.reset(raw);
  if (FAILED(hr) || !out.mix) {
    return fail(step_error("IAudioClient::GetMixFormat", hr));
  }
  return out;
}

// Everything the render thread uses; it holds its own reference.
struct Render {
  ComPtr<IAudioClient> client;
  ComPtr<IAudioRenderClient> render_client;
  platform::UniqueHandle buffer_event;  // signalled by the engine when it wants more
  EndpointFill fill{0, 0};              // how much of the buffer is kept queued
  size_t frame_bytes = 0;
  DataCallback on_data;
  ErrorCallback on_error;
};

// Tops the endpoint up to its fill target each time the engine signals; ends
// on the first failure, which goes to the error callback.
void render_loop(Render& render, const std::atomic<bool>& stop) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  while (!stop) {
    if (WaitForSingleObject(render.buffer_event.get(), kWakeMs) == WAIT_FAILED) {
      render.on_error(fmt::format("WaitForSingleObject: {}", platform::last_os_error_text()));
      return;
    }
    UINT32 padding = 0;
    HRESULT hr = render.client->GetCurrentPadding(&padding);
    if (FAILED(hr)) {
      render.on_error(step_error("IAudioClient::GetCurrentPadding", hr));
      return;
    }
    const UINT32 frames = render.fill.room(padding);
    if (frames == 0) {
      continue;
    }
    BYTE* data = nullptr;
    hr = render.render_client->GetBuffer(frames, &data);
    if (FAILED(hr)) {
      render.on_error(step_error("IAudioRenderClient::GetBuffer", hr));
      return;
    }
    render.on_data(
        std::span<std::byte>(reinterpret_cast<std::byte*>(data), frames * render.frame_bytes));
    hr = render.render_client->ReleaseBuffer(frames, 0);
    if (FAILED(hr)) {
      render.on_error(step_error("IAudioRenderClient::ReleaseBuffer", hr));
      return;
    }
  }
}

class WasapiStream final : public OutputStream {
 public:
  explicit WasapiStream(std::shared_ptr<Render> render) : render_(std::move(render)) {}

  ~WasapiStream() override {
    thread_.reset();  // stops and waits for the render thread first
    if (started_) {
      render_->client->Stop();
    }
  }

  Result<void> play() override {
    thread_ = std::make_unique<RenderThread>();
    auto spawned =
        thread_->start("audio-render", [render = render_](const std::atomic<bool>& stop) mutable {
          ComApartment com;
          // Let go of the interfaces before leaving the apartment.
          const std::shared_ptr<Render> held = std::move(render);
          render_loop(*held, stop);
        });
    if (!spawned) {
      thread_.reset();
      return fail(fmt::format("spawn audio-render thread: {}", spawned.error()));
    }
    const HRESULT hr = render_->client->Start();
    if (FAILED(hr)) {
      thread_.reset();
      return fail(step_error("IAudioClient::Start", hr));
    }
    started_ = true;
    return {};
  }

 private:
  std::shared_ptr<Render> render_;
  std::unique_ptr<RenderThread> thread_;
  bool started_ = false;
};

class WasapiEndpoint final : public OutputEndpoint {
 public:
  explicit WasapiEndpoint(ComPtr<IMMDevice> device) : device_(std::move(device)) {}

  Result<std::string> name() const override {
    ComPtr<IPropertyStore> store;
    HRESULT hr = device_->OpenPropertyStore(STGM_READ, &store);
    if (FAILED(hr)) {
      return fail(step_error("IMMDevice::OpenPropertyStore", hr));
    }
    PropVariant value;
    hr = store->GetValue(PKEY_Device_FriendlyName, value.get());
    if (FAILED(hr)) {
      return fail(step_error("IPropertyStore::GetValue", hr));
    }
    if ((*value).vt != VT_LPWSTR || (*value).pwszVal == nullptr) {
      return fail("the endpoint has no friendly name");
    }
    return platform::utf16_to_utf8((*value).pwszVal);
  }

  // WASAPI lists no formats, so the ranges come from asking: F32 and I16 at
  // the mix format's channel count, at each common rate, through
  // IsFormatSupported in shared mode. Every accepted (format, rate) is a
  // range of that one rate. Windows' shared mode accepts only the mix rate
  // (the receiver never asks the engine to convert), so an endpoint mixing at
  // 44.1 kHz reports no 48 kHz range and plays through the default
  // configuration and the resampler.
  Result<std::vector<ConfigRange>> supported_configs() const override {
    auto activated = activate_client(*device_.Get());
    if (!activated) {
      return fail(activated.error());
    }
    auto& [client, mix] = activated.value();
    std::vector<ConfigRange> ranges;
    for (const SampleFormat format : {SampleFormat::F32, SampleFormat::I16}) {
      for (const DWORD rate : kProbeRates) {
        const StreamConfig config{format, mix->nChannels, rate};
        auto wave = wave_format(config, *mix);
        if (!wave) {
          return fail(wave.error());
        }
        WAVEFORMATEX* closest_raw = nullptr;
        const HRESULT hr =
            client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &wave.value().Format, &closest_raw);
        const MixFormat closest(closest_raw);
        if (hr == S_OK) {
          ranges.push_back(ConfigRange{format, config.channels, rate, rate});
        }
      }
    }
    return ranges;
  }

  // The mix format: what the engine mixes this endpoint at.
  Result<StreamConfig> default_config() const override {
    auto activated = activate_client(*device_.Get());
    if (!activated) {
      return fail(activated.error());
    }
    auto& [client, mix] = activated.value();
    auto format = sample_format_of(*mix);
    if (!format) {
      return fail(format.error());
    }
    return StreamConfig{format.value(), mix->nChannels, static_cast<uint32_t>(mix->nSamplesPerSec)};
  }

  Result<std::unique_ptr<OutputStream>> build_stream(const StreamConfig& config,
                                                     DataCallback on_data,
                                                     ErrorCallback on_error) override {
    auto activated = activate_client(*device_.Get());
    if (!activated) {
      return fail(activated.error());
    }
    auto& [client, mix] = activated.value();
    auto wave = wave_format(config, *mix);
    if (!wave) {
      return fail(wave.error());
    }
    auto render = std::make_shared<Render>();
    render->client = std::move(client);
    // A buffer with room beyond the fill target; the engine's own period.
    constexpr REFERENCE_TIME kHundredNsPerMs = 10'000;
    HRESULT hr = render->client->Initialize(
        AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST,
        EndpointFill::kBufferMs * kHundredNsPerMs, 0, &wave.value().Format, nullptr);
    if (FAILED(hr)) {
      return fail(step_error("IAudioClient::Initialize", hr));
    }
    render->buffer_event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!render->buffer_event) {
      return fail(fmt::format("CreateEventW: {}", platform::last_os_error_text()));
    }
    hr = render->client->SetEventHandle(render->buffer_event.get());
    if (FAILED(hr)) {
      return fail(step_error("IAudioClient::SetEventHandle", hr));
    }
    UINT32 buffer_frames = 0;
    hr = render->client->GetBufferSize(&buffer_frames);
    if (FAILED(hr)) {
      return fail(step_error("IAudioClient::GetBufferSize", hr));
    }
    render->fill = EndpointFill(config.sample_rate, buffer_frames);
    hr = render->client->GetService(__uuidof(IAudioRenderClient),
                                    reinterpret_cast<void**>(render->render_client.GetAddressOf()));
    if (FAILED(hr)) {
      return fail(step_error("IAudioClient::GetService", hr));
    }
    render->frame_bytes = wave.value().Format.nBlockAlign;
    render->on_data = std::move(on_data);
    render->on_error = std::move(on_error);
    return std::unique_ptr<OutputStream>(std::make_unique<WasapiStream>(std::move(render)));
  }

 private:
  ComPtr<IMMDevice> device_;
};

class WasapiHost final : public AudioHost {
 public:
  WasapiHost() {
    // Joins the calling thread to the multithreaded apartment and leaves it
    // there: the streams the host builds outlive it on this thread.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                        __uuidof(IMMDeviceEnumerator),
                                        reinterpret_cast<void**>(enumerator_.GetAddressOf()));
    if (FAILED(hr)) {
      error_ = step_error("create the device enumerator", hr);
    }
  }

  std::string_view name() const override { return "WASAPI"; }

  std::shared_ptr<OutputEndpoint> default_output() override {
    ComPtr<IMMDevice> device;
    if (!enumerator_ || FAILED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &device))) {
      return nullptr;
    }
    return std::make_shared<WasapiEndpoint>(std::move(device));
  }

  Result<std::vector<std::shared_ptr<OutputEndpoint>>> outputs() override {
    if (!enumerator_) {
      return fail(error_);
    }
    ComPtr<IMMDeviceCollection> collection;
    HRESULT hr = enumerator_->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &collection);
    if (FAILED(hr)) {
      return fail(step_error("IMMDeviceEnumerator::EnumAudioEndpoints", hr));
    }
    UINT count = 0;
    hr = collection->GetCount(&count);
    if (FAILED(hr)) {
      return fail(step_error("IMMDeviceCollection::GetCount", hr));
    }
    std::vector<std::shared_ptr<OutputEndpoint>> endpoints;
    for (UINT i = 0; i < count; ++i) {
      ComPtr<IMMDevice> device;
      hr = collection->Item(i, &device);
      if (FAILED(hr)) {
        return fail(step_error("IMMDeviceCollection::Item", hr));
      }
      endpoints.push_back(std::make_shared<WasapiEndpoint>(std::move(device)));
    }
    return endpoints;
  }

 private:
  ComPtr<IMMDeviceEnumerator> enumerator_;
  std::string error_;  // why there is no enumerator
};

}  // namespace

std::unique_ptr<AudioHost> make_audio_host() {
  return std::make_unique<WasapiHost>();
}

}  // namespace korvex::audio
