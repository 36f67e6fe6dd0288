#include "camera/v4l2_device_linux.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cerrno>

#include "platform/os_error.hpp"
#include "platform/unique_fd.hpp"

namespace korvex::camera {
namespace {

class Mapping final : public MappedMemory {
 public:
  Mapping(void* address, size_t length) : address_(address), length_(length) {}
  ~Mapping() override { munmap(address_, length_); }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  std::span<const uint8_t> bytes() const override {
    return {static_cast<const uint8_t*>(address_), length_};
  }

 private:
  void* address_;
  size_t length_;
};

class DeviceNode final : public V4l2Device {
 public:
  explicit DeviceNode(platform::UniqueFd fd) : fd_(std::move(fd)) {}

  int control(unsigned long request, void* arg) override {
    int result = 0;
    do {
      result = ioctl(fd_.get(), request, arg);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
  }

  Result<std::unique_ptr<MappedMemory>> map(uint32_t length, uint32_t offset) override {
    void* address = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_.get(), offset);
    if (address == MAP_FAILED) {
      return fail("mmap: " + platform::last_os_error_text());
    }
    return std::unique_ptr<MappedMemory>(std::make_unique<Mapping>(address, length));
  }

 private:
  platform::UniqueFd fd_;
};

}  // namespace

Result<std::unique_ptr<V4l2Device>> open_v4l2_device(const std::string& path) {
  platform::UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) {
    return fail(path + ": " + platform::last_os_error_text());
  }
  return std::unique_ptr<V4l2Device>(std::make_unique<DeviceNode>(std::move(fd)));
}

}  // namespace korvex::camera
