// korvex-directshow-watch: reads the "Korvex" camera the way a DirectShow
// program does: found by its friendly name among the video capture devices,
// its format chosen with IAMStreamConfig::SetFormat before connecting, read
// through a Sample Grabber graph built with ICaptureGraphBuilder2.
//
//   korvex-directshow-watch formats SECONDS
//     every offered format in turn, SECONDS each: one line per format with
//     its samples, how many are byte for byte what the picture module draws
//     from the section at that moment, and whether the stamps rise
//   korvex-directshow-watch cycles CAPS SECONDS CYCLES
//     caps number CAPS (NV12 at the phone's size), CYCLES Run/Stop cycles of
//     SECONDS in one graph: one line per cycle with the rate, the phone's
//     frames (their stamps read back), and how long after the phone's last
//     frame the placeholder came

#include <windows.h>
// windows.h must come first.
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "directshow/grabber_graph_win.hpp"
#include "directshow/media_type_win.hpp"
#include "directshow/video_devices_win.hpp"
#include "frame_stamp.hpp"
#include "picture/camera_picture.hpp"
#include "picture/placeholder.hpp"
#include "platform/console.hpp"
#include "platform/hresult_win.hpp"

namespace {

using Microsoft::WRL::ComPtr;
using namespace korvex;
using Clock = std::chrono::steady_clock;

// Samples the grabber keeps for us: a quarter of a second.
constexpr size_t kQueued = 8;

constexpr char kUsage[] =
    "usage: korvex-directshow-watch formats SECONDS | cycles CAPS SECONDS CYCLES\n";

int failure(const std::string& text) {
  platform::write_stderr(text + "\n");
  return 1;
}

std::optional<uint32_t> number(const std::string& text) {
  uint32_t value = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

struct Format {
  picture::PixelFormat pixels = picture::PixelFormat::nv12;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitch() const { return pixels == picture::PixelFormat::yuy2 ? width * 2 : width; }
  const char* name() const {
    return pixels == picture::PixelFormat::yuy2   ? "YUY2"
           : pixels == picture::PixelFormat::nv12 ? "NV12"
                                                  : "I420";
  }
};

Format format_of(const AM_MEDIA_TYPE& type) {
  const auto& bitmap = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  Format format;
  format.pixels =
      bitmap.biCompression == MAKEFOURCC('Y', 'U', 'Y', '2')   ? picture::PixelFormat::yuy2
      : bitmap.biCompression == MAKEFOURCC('N', 'V', '1', '2') ? picture::PixelFormat::nv12
                                                               : picture::PixelFormat::i420;
  format.width = static_cast<uint32_t>(bitmap.biWidth);
  format.height = static_cast<uint32_t>(bitmap.biHeight);
  return format;
}

class Camera {
 public:
  // The device named "Korvex", its capture pin's stream config.
  static std::optional<Camera> find(std::string& error) {
    auto devices = directshow::list_video_devices();
    if (!devices) {
      error = devices.error();
      return std::nullopt;
    }
    for (const directshow::VideoDevice& device : devices.value()) {
      if (device.name != "Korvex") {
        continue;
      }
      Camera camera;
      HRESULT hr = directshow::bind_filter(device, camera.filter);
      ComPtr<ICaptureGraphBuilder2> builder;
      if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&builder));
      }
      if (SUCCEEDED(hr)) {
        hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.filter.Get(),
                                    IID_IAMStreamConfig,
                                    reinterpret_cast<void**>(camera.config.GetAddressOf()));
      }
      if (FAILED(hr)) {
        error = platform::step_text("binding \"Korvex\"", hr);
        return std::nullopt;
      }
      return camera;
    }
    error = "no video capture device named \"Korvex\"";
    return std::nullopt;
  }

  int caps_count() {
    int count = 0;
    int size = 0;
    return SUCCEEDED(config->GetNumberOfCapabilities(&count, &size)) ? count : 0;
  }

  // Chooses caps number `index` before connecting; its format.
  std::optional<Format> choose(int index) {
    VIDEO_STREAM_CONFIG_CAPS caps{};
    AM_MEDIA_TYPE* type = nullptr;
    if (config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK) {
      return std::nullopt;
    }
    directshow::MediaType owned = directshow::MediaType::adopt(*type);
    CoTaskMemFree(type);
    if (FAILED(config->SetFormat(&owned.get()))) {
      return std::nullopt;
    }
    return format_of(owned.get());
  }

  ComPtr<IBaseFilter> filter;
  ComPtr<IAMStreamConfig> config;
};

// What the picture module has drawn from the section lately, in one format:
// a thread draws each new frame of the section (and the placeholder) as it
// comes, and the pictures of the last frames are kept, so that a sample that
// waited in the grabber's queue is still judged against its own frame.
class Reference {
 public:
  explicit Reference(const Format& format)
      : format_(format),
        scratch_(picture::packed_size(format.pixels, format.width, format.height)),
        thread_([this] { follow(); }) {}

  ~Reference() {
    stop_ = true;
    thread_.join();
  }

  bool matches(const std::vector<uint8_t>& bytes) {
    std::lock_guard guard(lock_);
    return std::find(kept_.begin(), kept_.end(), bytes) != kept_.end();
  }

 private:
  void follow() {
    while (!stop_) {
      const picture::PictureBuffer out{format_.pixels, format_.width, format_.height,
                                       scratch_.data(), format_.pitch()};
      picture_.render(out, held_);  // draws only when the picture to show changed
      if (!(held_ == last_kept_)) {
        last_kept_ = held_;
        std::lock_guard guard(lock_);
        kept_.push_back(scratch_);
        if (kept_.size() > kKeptFrames) {
          kept_.pop_front();
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Half a second of the phone at 30 frames a second.
  static constexpr size_t kKeptFrames = 16;

  const Format format_;
  picture::CameraPicture picture_ = picture::CameraPicture::for_system();
  std::vector<uint8_t> scratch_;
  picture::HeldPicture held_;
  picture::HeldPicture last_kept_;
  std::mutex lock_;  // guards kept_
  std::deque<std::vector<uint8_t>> kept_;
  std::atomic<bool> stop_{false};
  std::thread thread_;  // last: starts once the rest is made
};

int watch_formats(Camera& camera, uint32_t seconds) {
  for (int index = 0; index < camera.caps_count(); ++index) {
    const std::optional<Format> format = camera.choose(index);
    if (!format) {
      return failure(fmt::format("caps {}: SetFormat failed", index));
    }
    Reference reference(*format);
    auto graph = directshow::GrabberGraph::build(camera.filter.Get(), false, kQueued);
    if (!graph) {
      return failure(fmt::format("caps {}: {}", index, graph.error()));
    }
    AM_MEDIA_TYPE connected{};
    ComPtr<IPin> pin;
    camera.filter->FindPin(L"Capture", &pin);
    const bool took = pin && SUCCEEDED(pin->ConnectionMediaType(&connected)) &&
                      connected.formattype == FORMAT_VideoInfo &&
                      format_of(connected).width == format->width &&
                      format_of(connected).pixels == format->pixels;
    directshow::free_media_type(connected);
    graph.value()->control().Run();
    uint64_t samples = 0;
    uint64_t exact = 0;
    bool rising = true;
    std::optional<REFERENCE_TIME> last;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
      auto got = graph.value()->samples().pop(std::chrono::seconds(2));
      if (!got) {
        break;
      }
      ++samples;
      exact += reference.matches(got->bytes);
      rising = rising && got->timed && (!last || got->start > *last);
      last = got->start;
    }
    graph.value()->control().Stop();
    platform::write_stdout(fmt::format(
        "format {} {} {}x{}: connected {} samples {} exact {} "
        "stamps {}\n",
        index, format->name(), format->width, format->height, took ? "as set" : "otherwise",
        samples, exact, rising ? "rising" : "out of order"));
  }
  return 0;
}

int watch_cycles(Camera& camera, int caps, uint32_t seconds, uint32_t cycles) {
  const std::optional<Format> format = camera.choose(caps);
  if (!format || format->pixels != picture::PixelFormat::nv12) {
    return failure(fmt::format("caps {}: not an NV12 format", caps));
  }
  auto graph = directshow::GrabberGraph::build(camera.filter.Get(), false, kQueued);
  if (!graph) {
    return failure(graph.error());
  }
  for (uint32_t cycle = 0; cycle < cycles; ++cycle) {
    graph.value()->control().Run();
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::seconds(seconds);
    uint64_t samples = 0;
    std::set<uint32_t> phone_frames;
    bool rising = true;
    std::optional<REFERENCE_TIME> last;
    std::optional<Clock::time_point> last_phone;
    double placeholder_after_ms = -1;  // none yet
    while (Clock::now() < deadline) {
      auto got = graph.value()->samples().pop(std::chrono::seconds(2));
      if (!got) {
        break;
      }
      const auto seen = Clock::now();
      ++samples;
      rising = rising && got->timed && (!last || got->start > *last);
      last = got->start;
      const auto stamp =
          tools::read_stamp(got->bytes.data(), format->width, format->height, format->width);
      if (stamp) {
        // Repeats of the phone's last frame are not news from the phone.
        if (phone_frames.insert(stamp->index).second) {
          last_phone = seen;
          placeholder_after_ms = -1;
        }
      } else if (!got->bytes.empty() && got->bytes[0] == picture::kPlaceholderTopLuma &&
                 last_phone && placeholder_after_ms < 0) {
        placeholder_after_ms =
            std::chrono::duration<double, std::milli>(seen - *last_phone).count();
      }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    graph.value()->control().Stop();
    graph.value()->samples().take_all();
    platform::write_stdout(fmt::format(
        "cycle {}: samples {} fps {:.2f} phone_frames {} stamps {} placeholder_after_ms {}\n",
        cycle, samples, samples / elapsed, phone_frames.size(), rising ? "rising" : "out of order",
        placeholder_after_ms >= 0 ? fmt::format("{:.0f}", placeholder_after_ms) : "none"));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::string error;
  const bool formats = args.size() == 2 && args[0] == "formats" && number(args[1]);
  const bool cycles = args.size() == 4 && args[0] == "cycles" && number(args[1]) &&
                      number(args[2]) && number(args[3]);
  if (!formats && !cycles) {
    platform::write_stderr(kUsage);
    return 2;
  }
  std::optional<Camera> camera = Camera::find(error);
  if (!camera) {
    return failure(error);
  }
  return formats ? watch_formats(*camera, *number(args[1]))
                 : watch_cycles(*camera, static_cast<int>(*number(args[1])), *number(args[2]),
                                *number(args[3]));
}
