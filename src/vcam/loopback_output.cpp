#include "vcam/loopback_output.hpp"

#include <chrono>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "picture/frame_pacer.hpp"
#include "platform/console.hpp"
#include "platform/thread.hpp"

namespace korvex::vcam {
namespace {

constexpr auto kFramePeriod = std::chrono::nanoseconds(1'000'000'000 / 30);

}  // namespace

LoopbackOutput::LoopbackOutput(std::string path, std::unique_ptr<LoopbackDevice> device,
                               picture::CameraPicture picture)
    : path_(std::move(path)),
      device_(std::move(device)),
      picture_(std::move(picture)),
      buffer_(picture::packed_size(picture::PixelFormat::nv12, kLoopbackWidth, kLoopbackHeight)) {}

Result<std::unique_ptr<LoopbackOutput>> LoopbackOutput::open(VideoDevices& devices,
                                                             picture::CameraPicture picture) {
  for (const VideoDeviceInfo& info : devices.list()) {
    if (info.card != kLoopbackCard || !info.video_output) {
      continue;
    }
    auto device = devices.open(info.path);
    if (!device) {
      return fail(fmt::format("{}: {}", info.path, device.error()));
    }
    if (auto set = device.value()->set_nv12_format(kLoopbackWidth, kLoopbackHeight); !set) {
      return fail(fmt::format("{}: {}", info.path, set.error()));
    }
    return std::unique_ptr<LoopbackOutput>(
        new LoopbackOutput(info.path, std::move(device.value()), std::move(picture)));
  }
  return std::unique_ptr<LoopbackOutput>();
}

Result<void> LoopbackOutput::write_next() {
  picture_.render(picture::PictureBuffer{picture::PixelFormat::nv12, kLoopbackWidth,
                                         kLoopbackHeight, buffer_.data(), kLoopbackWidth});
  if (auto written = device_->write_picture(buffer_); !written) {
    return fail(fmt::format("{}: {}", path_, written.error()));
  }
  return {};
}

Result<std::optional<std::string>> start_loopback_output() {
  std::unique_ptr<VideoDevices> devices = system_video_devices();
  auto opened = LoopbackOutput::open(*devices, picture::CameraPicture::for_system());
  if (!opened) {
    return fail(opened.error());
  }
  if (!opened.value()) {
    return std::optional<std::string>();
  }
  std::shared_ptr<LoopbackOutput> output = std::move(opened.value());
  const std::string path = output->path();
  auto started = platform::spawn_thread("loopback", [output] {
    picture::FramePacer pacer(kFramePeriod);
    for (;;) {
      std::this_thread::sleep_until(pacer.take_slot(picture::FramePacer::Clock::now()));
      if (auto written = output->write_next(); !written) {
        platform::write_stderr(fmt::format(
            "virtual camera: v4l2loopback: {}; no more pictures go to it\n", written.error()));
        return;
      }
    }
  });
  if (!started) {
    return fail(fmt::format("{}: thread: {}", path, started.error()));
  }
  return std::optional<std::string>(path);
}

}  // namespace korvex::vcam
