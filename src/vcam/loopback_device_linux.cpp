// V4L2 devices: /dev/video*, asked for their card name and capabilities.

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "platform/os_error.hpp"
#include "platform/unique_fd.hpp"
#include "vcam/loopback_device.hpp"

namespace korvex::vcam {
namespace {

int interrupted_ioctl(int fd, unsigned long request, void* argument) {
  int result;
  do {
    result = ::ioctl(fd, request, argument);
  } while (result != 0 && errno == EINTR);
  return result;
}

Error system_failure(const char* step) {
  return fail(fmt::format("{}: {}", step, platform::last_os_error_text()));
}

class V4l2Device final : public LoopbackDevice {
 public:
  explicit V4l2Device(platform::UniqueFd fd) : fd_(std::move(fd)) {}

  Result<void> set_nv12_format(uint32_t width, uint32_t height) override {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_NV12;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = width;
    format.fmt.pix.sizeimage = width * height * 3 / 2;
    if (interrupted_ioctl(fd_.get(), VIDIOC_S_FMT, &format) != 0) {
      return system_failure("VIDIOC_S_FMT");
    }
    // A device may adjust what it was asked for; pictures of another shape
    // would come out scrambled.
    if (format.fmt.pix.width != width || format.fmt.pix.height != height ||
        format.fmt.pix.pixelformat != V4L2_PIX_FMT_NV12 ||
        (format.fmt.pix.bytesperline != 0 && format.fmt.pix.bytesperline != width)) {
      return fail(fmt::format("VIDIOC_S_FMT: the device takes {}x{} with {} bytes a row, not NV12",
                              format.fmt.pix.width, format.fmt.pix.height,
                              format.fmt.pix.bytesperline));
    }
    return {};
  }

  Result<void> write_picture(std::span<const uint8_t> picture) override {
    while (!picture.empty()) {
      const ssize_t n = ::write(fd_.get(), picture.data(), picture.size());
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        return system_failure("write");
      }
      picture = picture.subspan(static_cast<size_t>(n));
    }
    return {};
  }

 private:
  platform::UniqueFd fd_;
};

class V4l2Devices final : public VideoDevices {
 public:
  std::vector<VideoDeviceInfo> list() override {
    std::vector<VideoDeviceInfo> found;
    DIR* dev = ::opendir("/dev");
    if (dev == nullptr) {
      return found;
    }
    while (const dirent* entry = ::readdir(dev)) {
      if (std::strncmp(entry->d_name, "video", 5) != 0) {
        continue;
      }
      const std::string path = std::string("/dev/") + entry->d_name;
      platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      v4l2_capability capability{};
      if (!fd || interrupted_ioctl(fd.get(), VIDIOC_QUERYCAP, &capability) != 0) {
        continue;
      }
      const uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                ? capability.device_caps
                                : capability.capabilities;
      const auto* card = reinterpret_cast<const char*>(capability.card);
      found.push_back(VideoDeviceInfo{path,
                                      std::string(card, strnlen(card, sizeof capability.card)),
                                      (caps & V4L2_CAP_VIDEO_OUTPUT) != 0});
    }
    ::closedir(dev);
    // /dev lists in no particular order; the lowest number first, as V4L2 programs do.
    std::sort(found.begin(), found.end(), [](const VideoDeviceInfo& a, const VideoDeviceInfo& b) {
      return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
    });
    return found;
  }

  Result<std::unique_ptr<LoopbackDevice>> open(const std::string& path) override {
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
      return system_failure("open");
    }
    return std::unique_ptr<LoopbackDevice>(std::make_unique<V4l2Device>(std::move(fd)));
  }
};

}  // namespace

std::unique_ptr<VideoDevices> system_video_devices() {
  return std::make_unique<V4l2Devices>();
}

}  // namespace korvex::vcam
