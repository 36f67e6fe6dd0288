#pragma once

// What the listing and the probe need from the system's cameras, and nothing
// more: the cameras in the system's order, each one's media types, and its
// samples one at a time. Windows implements it over Media Foundation
// (media_foundation_camera_win.cpp) and, for cameras only DirectShow lists,
// over DirectShow (directshow_camera_win.cpp), Linux over V4L2 (v4l2_camera_linux.cpp);
// the tests use fakes and, under Wine, the receiver's own media source.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/subtype.hpp"
#include "common/nv12_frame.hpp"
#include "common/result.hpp"

namespace korvex::camera {

// One native media type as the camera offers it.
struct MediaType {
  Guid subtype;  // all zeros when it cannot be read
  uint32_t width = 0;
  uint32_t height = 0;
  double fps = 0;  // 0 when the rate cannot be read
};

// One delivered picture, handed back to the camera when it goes.
class Sample {
 public:
  virtual ~Sample() = default;
  // The picture as tightly packed NV12 of the selected type's size; its time
  // is the sample's own, or `fallback_us` when it has none.
  virtual Result<Nv12Frame> nv12(uint32_t width, uint32_t height, uint64_t fallback_us) = 0;
};

// What one read brought.
struct ReadResult {
  bool error = false;              // the camera reports a failure of its stream
  bool end_of_stream = false;      // no more samples will come
  int64_t time = 0;                // the sample's time in 100-nanosecond units
  std::unique_ptr<Sample> sample;  // null when the read brought none
};

// An activated camera reading its first video stream.
class Reader {
 public:
  virtual ~Reader() = default;
  // Native media type number `index`; none past the end of the list or when
  // it cannot be read.
  virtual std::optional<MediaType> native_type(uint32_t index) = 0;
  // Whether the reader delivers YUY2 types as NV12, for cameras without NV12.
  virtual bool converts_yuy2() const = 0;
  // Makes native type `index` the one read.
  virtual Result<void> select(uint32_t index) = 0;
  // Waits for the next sample.
  virtual Result<ReadResult> read() = 0;
  // Stops the camera before it is released.
  virtual void shutdown() = 0;
};

// How a listed camera is opened.
class Activation {
 public:
  virtual ~Activation() = default;
  virtual Result<std::unique_ptr<Reader>> activate() = 0;
};

struct CameraInfo {
  std::string name;  // empty when it cannot be read
  std::string link;  // the system's path to the device; empty when it cannot be read
  std::unique_ptr<Activation> activation;
};

// The system's video capture devices, in its order.
Result<std::vector<CameraInfo>> list_cameras();

}  // namespace korvex::camera
