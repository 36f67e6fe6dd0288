// Time to render and deliver one camera picture: the work the source's
// worker does for each request (a sample drawn and rendered from the frame
// section, then queued as MEMediaSample), without the frame-rate pacing.
//
// usage: korvex-source-timing [SAMPLES]   (default 100)
// Prints one line per case: mean, median, 95th percentile and maximum in ms.

#include <windows.h>
// windows.h must come first.
#include <mfapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "media_source/picture_sample_win.hpp"
#include "platform/console.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"

namespace {

using namespace korvex;
using Microsoft::WRL::ComPtr;

Nv12Frame test_frame(uint32_t width, uint32_t height) {
  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.data.assign(uint64_t{width} * height * 3 / 2, 128);
  for (uint64_t i = 0; i < uint64_t{width} * height; ++i) {
    frame.data[i] = static_cast<uint8_t>(i * 7 / 5);
  }
  return frame;
}

// Renders `samples` 1920 x 1080 NV12 pictures from frames of the given size,
// publishing a frame before each so that every render copies a new one.
bool time_case(const char* name, uint32_t frame_width, uint32_t frame_height, int samples) {
  Result<section::MappedSection> mapped = section::open_or_create_frame_section();
  if (!mapped) {
    platform::write_stderr(fmt::format("frame section: {}\n", mapped.error()));
    return false;
  }
  Result<section::SectionGeometry> geometry = section::adopt_section(mapped->get());
  if (!geometry) {
    platform::write_stderr(fmt::format("frame section: {}\n", geometry.error()));
    return false;
  }
  ComPtr<IMFMediaEventQueue> events;
  if (FAILED(MFCreateEventQueue(&events))) {
    platform::write_stderr("MFCreateEventQueue failed\n");
    return false;
  }
  const media_source::StreamFormat format{picture::PixelFormat::nv12, 1920, 1080, {30, 1}};
  picture::CameraPicture picture = picture::CameraPicture::for_system();
  const Nv12Frame frame = test_frame(frame_width, frame_height);
  std::vector<double> ms;
  for (int i = 0; i <= samples; ++i) {
    section::publish_frame(mapped->get(), geometry.value(), frame, section::activity_tick_now());
    const auto start = std::chrono::steady_clock::now();
    ComPtr<IMFSample> sample;
    const HRESULT hr = media_source::make_picture_sample(format, nullptr, nullptr, picture, sample);
    if (SUCCEEDED(hr)) {
      events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
    }
    const auto end = std::chrono::steady_clock::now();
    if (FAILED(hr)) {
      platform::write_stderr(fmt::format("make_picture_sample: {:#010x}\n", unsigned(hr)));
      return false;
    }
    ComPtr<IMFMediaEvent> delivered;
    events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &delivered);
    if (i > 0) {  // the first render maps the section
      ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
  }
  events->Shutdown();
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) {
    sum += m;
  }
  platform::write_stdout(fmt::format(
      "{}: 1920x1080 NV12 from a {}x{} frame, {} samples: mean {:.2f} ms, p50 {:.2f} ms, "
      "p95 {:.2f} ms, max {:.2f} ms\n",
      name, frame_width, frame_height, ms.size(), sum / ms.size(), ms[ms.size() / 2],
      ms[ms.size() * 95 / 100], ms.back()));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  if (FAILED(MFStartup(MF_VERSION, MFSTARTUP_LITE))) {
    platform::write_stderr("MFStartup failed\n");
    return 1;
  }
  const bool ok = time_case("copy", 1920, 1080, samples) && time_case("scaled", 1280, 720, samples);
  return ok ? 0 : 1;
}
