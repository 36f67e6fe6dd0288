#include "camera/directshow_camera_win.hpp"

#include <windows.h>
// windows.h must come first.
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "directshow/grabber_graph_win.hpp"
#include "directshow/media_type_win.hpp"
#include "directshow/video_devices_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::camera {
namespace {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

// A live camera sends at least a few pictures a second; none for this long
// is a stalled camera, not a slow one.
constexpr auto kSampleTimeout = 5s;

Guid guid_of(const GUID& guid) {
  Guid out{guid.Data1, guid.Data2, guid.Data3, {}};
  std::copy(std::begin(guid.Data4), std::end(guid.Data4), out.data4.begin());
  return out;
}

bool same_path(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

class GrabbedPicture final : public Sample {
 public:
  explicit GrabbedPicture(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  Result<Nv12Frame> nv12(uint32_t width, uint32_t height, uint64_t fallback_us) override {
    const uint64_t size = uint64_t{width} * height * 3 / 2;
    if (bytes_.size() < size) {
      return fail("sample of " + std::to_string(bytes_.size()) + " bytes, " + std::to_string(size) +
                  " expected");
    }
    bytes_.resize(size);
    return Nv12Frame{std::move(bytes_), fallback_us, width, height};
  }

 private:
  std::vector<uint8_t> bytes_;
};

class GraphReader final : public Reader {
 public:
  GraphReader(ComPtr<IBaseFilter> filter, ComPtr<IAMStreamConfig> config)
      : filter_(std::move(filter)), config_(std::move(config)) {}

  std::optional<MediaType> native_type(uint32_t index) override {
    directshow::MediaType type;
    if (!caps_type(index, type)) {
      return std::nullopt;
    }
    MediaType out;
    out.subtype = guid_of(type.get().subtype);
    if (type.get().formattype == FORMAT_VideoInfo && type.get().pbFormat != nullptr &&
        type.get().cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(type.get().pbFormat);
      out.width = static_cast<uint32_t>(std::max<LONG>(info.bmiHeader.biWidth, 0));
      out.height = static_cast<uint32_t>(std::abs(info.bmiHeader.biHeight));
      out.fps = info.AvgTimePerFrame > 0 ? 10'000'000.0 / info.AvgTimePerFrame : 0;
    }
    return out;
  }

  bool converts_yuy2() const override { return false; }

  Result<void> select(uint32_t index) override {
    directshow::MediaType type;
    if (!caps_type(index, type)) {
      return fail("IAMStreamConfig::GetStreamCaps: no type " + std::to_string(index));
    }
    KORVEX_FAIL_IF_FAILED("IAMStreamConfig::SetFormat", config_->SetFormat(&type.get()));
    // A few pictures are enough: the probe reads them as they come.
    auto graph = directshow::GrabberGraph::build(filter_.Get(), false, 8);
    if (!graph) {
      return Error{graph.error()};
    }
    graph_ = std::move(graph.value());
    KORVEX_FAIL_IF_FAILED("IMediaControl::Run", graph_->control().Run());
    return {};
  }

  Result<ReadResult> read() override {
    std::optional<directshow::GrabbedSample> got = graph_->samples().pop(kSampleTimeout);
    if (!got) {
      return fail("no picture within 5 s");
    }
    ReadResult result;
    result.time = got->timed ? got->start : 0;
    result.sample = std::make_unique<GrabbedPicture>(std::move(got->bytes));
    return result;
  }

  void shutdown() override { graph_.reset(); }

 private:
  bool caps_type(uint32_t index, directshow::MediaType& out) {
    int count = 0;
    int size = 0;
    if (FAILED(config_->GetNumberOfCapabilities(&count, &size)) || index >= uint32_t(count) ||
        size < 1) {
      return false;
    }
    std::vector<BYTE> caps(static_cast<size_t>(size));
    AM_MEDIA_TYPE* type = nullptr;
    if (config_->GetStreamCaps(static_cast<int>(index), &type, caps.data()) != S_OK ||
        type == nullptr) {
      return false;
    }
    out = directshow::MediaType::adopt(*type);
    CoTaskMemFree(type);
    return true;
  }

  ComPtr<IBaseFilter> filter_;
  ComPtr<IAMStreamConfig> config_;
  std::unique_ptr<directshow::GrabberGraph> graph_;
};

class DirectShowActivation final : public Activation {
 public:
  explicit DirectShowActivation(directshow::VideoDevice device) : device_(std::move(device)) {}

  Result<std::unique_ptr<Reader>> activate() override {
    ComPtr<IBaseFilter> filter;
    KORVEX_FAIL_IF_FAILED("IMoniker::BindToObject", directshow::bind_filter(device_, filter));
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IAMStreamConfig> config;
    HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&builder));
    if (SUCCEEDED(hr)) {
      hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter.Get(),
                                  IID_IAMStreamConfig,
                                  reinterpret_cast<void**>(config.GetAddressOf()));
    }
    if (FAILED(hr) || !config) {
      return platform::step_failure("FindInterface(IAMStreamConfig)",
                                    FAILED(hr) ? hr : E_NOINTERFACE);
    }
    return std::unique_ptr<Reader>(new GraphReader(std::move(filter), std::move(config)));
  }

 private:
  directshow::VideoDevice device_;
};

}  // namespace

Result<void> append_directshow_cameras(std::vector<CameraInfo>& cameras) {
  Result<std::vector<directshow::VideoDevice>> devices = directshow::list_video_devices();
  if (!devices) {
    return Error{devices.error()};
  }
  for (directshow::VideoDevice& device : devices.value()) {
    const bool listed = device.has_device_path &&
                        std::any_of(cameras.begin(), cameras.end(), [&](const CameraInfo& camera) {
                          return same_path(camera.link, device.path);
                        });
    if (listed) {
      continue;
    }
    CameraInfo camera;
    camera.name = device.name;
    camera.link = device.path;
    camera.activation = std::make_unique<DirectShowActivation>(std::move(device));
    cameras.push_back(std::move(camera));
  }
  return {};
}

}  // namespace korvex::camera
