#pragma once

// The V4L2 calls the camera makes on one open device, behind an interface so
// that the tests can stand in for a device this machine does not have.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "common/result.hpp"

namespace korvex::camera {

// A device buffer mapped into the process, unmapped when it goes.
class MappedMemory {
 public:
  virtual ~MappedMemory() = default;
  virtual std::span<const uint8_t> bytes() const = 0;
};

class V4l2Device {
 public:
  virtual ~V4l2Device() = default;
  // ioctl(request, arg): 0, or the errno of the failure.
  virtual int control(unsigned long request, void* arg) = 0;
  // Maps `length` bytes of the device at `offset` for reading.
  virtual Result<std::unique_ptr<MappedMemory>> map(uint32_t length, uint32_t offset) = 0;
};

using V4l2Opener = std::function<Result<std::unique_ptr<V4l2Device>>(const std::string& path)>;

// Opens the device node at `path` for blocking reads; fails with
// "{path}: {system error}".
Result<std::unique_ptr<V4l2Device>> open_v4l2_device(const std::string& path);

}  // namespace korvex::camera
