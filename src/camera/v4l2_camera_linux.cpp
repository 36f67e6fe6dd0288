#include "camera/v4l2_camera_linux.hpp"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "camera/packed_picture.hpp"
#include "platform/os_error.hpp"

namespace korvex::camera {
namespace {

// Enough to keep a camera streaming while one buffer is looked at.
constexpr uint32_t kBufferCount = 4;

Error failure(const char* step, int error) {
  return fail(fmt::format("{}: {}", step, platform::os_error_text(error)));
}

// The subtype a V4L2 pixel format is listed as: the formats Media Foundation
// names by the same table; any other by its FOURCC on the video base.
Guid subtype_of(uint32_t pixel_format) {
  switch (pixel_format) {
    case V4L2_PIX_FMT_NV12:
      return kNv12;
    case V4L2_PIX_FMT_YUYV:
      return kYuy2;
    case V4L2_PIX_FMT_MJPEG:
      return kMjpg;
    case V4L2_PIX_FMT_RGB24:
      return kRgb24;
    case V4L2_PIX_FMT_RGB32:
      return kRgb32;
    case V4L2_PIX_FMT_YUV420:
      return kI420;
    case V4L2_PIX_FMT_H264:
      return kH264;
    default:
      return video_subtype(pixel_format);
  }
}

std::optional<std::string> capture_card(V4l2Device& device) {
  v4l2_capability caps{};
  if (device.control(VIDIOC_QUERYCAP, &caps) != 0) {
    return std::nullopt;
  }
  // A node of a multi-node device says what it does itself in device_caps.
  const uint32_t node_caps =
      (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
  if ((node_caps & V4L2_CAP_VIDEO_CAPTURE) == 0) {
    return std::nullopt;
  }
  const auto* card = reinterpret_cast<const char*>(caps.card);
  return std::string(card, strnlen(card, sizeof caps.card));
}

// One entry of the format listing: a pixel format at one size and interval.
struct DeviceType {
  uint32_t pixel_format = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  v4l2_fract interval{0, 0};  // seconds per frame; 0/0 when not reported

  MediaType media_type() const {
    MediaType type{subtype_of(pixel_format), width, height, 0};
    if (interval.numerator != 0) {
      type.fps = static_cast<double>(interval.denominator) / interval.numerator;
    }
    return type;
  }
};

// A stepwise or continuous range is listed by its two ends.
std::vector<v4l2_fract> frame_intervals(V4l2Device& device, uint32_t pixel_format, uint32_t width,
                                        uint32_t height) {
  std::vector<v4l2_fract> intervals;
  for (uint32_t i = 0;; ++i) {
    v4l2_frmivalenum e{};
    e.index = i;
    e.pixel_format = pixel_format;
    e.width = width;
    e.height = height;
    if (device.control(VIDIOC_ENUM_FRAMEINTERVALS, &e) != 0) {
      return intervals;
    }
    if (e.type != V4L2_FRMIVAL_TYPE_DISCRETE) {
      return {e.stepwise.min, e.stepwise.max};
    }
    intervals.push_back(e.discrete);
  }
}

std::vector<std::pair<uint32_t, uint32_t>> frame_sizes(V4l2Device& device, uint32_t pixel_format) {
  std::vector<std::pair<uint32_t, uint32_t>> sizes;
  for (uint32_t i = 0;; ++i) {
    v4l2_frmsizeenum e{};
    e.index = i;
    e.pixel_format = pixel_format;
    if (device.control(VIDIOC_ENUM_FRAMESIZES, &e) != 0) {
      return sizes;
    }
    if (e.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
      return {{e.stepwise.min_width, e.stepwise.min_height},
              {e.stepwise.max_width, e.stepwise.max_height}};
    }
    sizes.emplace_back(e.discrete.width, e.discrete.height);
  }
}

// Every format, size and interval the device reports, in its order. What a
// device does not report stays blank, as a figure Media Foundation cannot read.
std::vector<DeviceType> device_types(V4l2Device& device) {
  std::vector<DeviceType> types;
  for (uint32_t f = 0;; ++f) {
    v4l2_fmtdesc description{};
    description.index = f;
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.control(VIDIOC_ENUM_FMT, &description) != 0) {
      return types;
    }
    const uint32_t format = description.pixelformat;
    const auto sizes = frame_sizes(device, format);
    if (sizes.empty()) {
      types.push_back({format, 0, 0, {0, 0}});
    }
    for (const auto& [width, height] : sizes) {
      const auto intervals = frame_intervals(device, format, width, height);
      if (intervals.empty()) {
        types.push_back({format, width, height, {0, 0}});
      }
      for (const v4l2_fract& interval : intervals) {
        types.push_back({format, width, height, interval});
      }
    }
  }
}

class V4l2Reader;

// A dequeued buffer, queued again when the probe is done with it.
class BufferSample final : public Sample {
 public:
  BufferSample(V4l2Reader& reader, uint32_t index, std::span<const uint8_t> bytes, int64_t time)
      : reader_(reader), index_(index), bytes_(bytes), time_(time) {}
  ~BufferSample() override;

  Result<Nv12Frame> nv12(uint32_t width, uint32_t height, uint64_t fallback_us) override;

 private:
  V4l2Reader& reader_;  // outlives its samples
  uint32_t index_;
  std::span<const uint8_t> bytes_;  // what the device filled
  int64_t time_;
};

class V4l2Reader final : public Reader {
 public:
  explicit V4l2Reader(std::unique_ptr<V4l2Device> device)
      : device_(std::move(device)), types_(device_types(*device_)) {}

  ~V4l2Reader() override {
    if (streaming_) {
      int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      device_->control(VIDIOC_STREAMOFF, &type);
    }
  }

  std::optional<MediaType> native_type(uint32_t index) override {
    if (index >= types_.size()) {
      return std::nullopt;
    }
    return types_[index].media_type();
  }

  bool converts_yuy2() const override { return true; }

  Result<void> select(uint32_t index) override {
    if (index >= types_.size()) {
      return fail(fmt::format("VIDIOC_S_FMT: no type {}", index));
    }
    const DeviceType& wanted = types_[index];
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = wanted.width;
    format.fmt.pix.height = wanted.height;
    format.fmt.pix.pixelformat = wanted.pixel_format;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (int error = device_->control(VIDIOC_S_FMT, &format); error != 0) {
      return failure("VIDIOC_S_FMT", error);
    }
    const v4l2_pix_format& set = format.fmt.pix;
    // The driver answers with the nearest it can do; reading that as the
    // asked type would misread every picture.
    if (set.pixelformat != wanted.pixel_format || set.width != wanted.width ||
        set.height != wanted.height) {
      return fail(fmt::format("VIDIOC_S_FMT: the device offers {} {}x{} instead",
                              subtype_name(subtype_of(set.pixelformat)), set.width, set.height));
    }
    pixel_format_ = set.pixelformat;
    stride_ = set.bytesperline;
    if (wanted.interval.numerator != 0) {
      // Drivers without frame rate control keep their own; the report shows it.
      v4l2_streamparm parameters{};
      parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      parameters.parm.capture.timeperframe = wanted.interval;
      device_->control(VIDIOC_S_PARM, &parameters);
    }
    return {};
  }

  Result<ReadResult> read() override {
    if (requeue_error_ != 0) {
      return failure("VIDIOC_QBUF", requeue_error_);
    }
    if (!streaming_) {
      if (auto started = start(); !started) {
        return Error{started.error()};
      }
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    ReadResult result;
    if (int error = device_->control(VIDIOC_DQBUF, &buffer); error != 0) {
      if (error == EPIPE) {  // the last buffer was taken before
        result.end_of_stream = true;
        return result;
      }
      return failure("VIDIOC_DQBUF", error);
    }
    if (buffer.index >= buffers_.size()) {
      return fail(fmt::format("VIDIOC_DQBUF: buffer {} of {}", buffer.index, buffers_.size()));
    }
    if ((buffer.flags & V4L2_BUF_FLAG_LAST) != 0) {
      result.end_of_stream = true;
      return result;
    }
    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) {
      requeue(buffer.index);  // a damaged picture is no sample
      return result;
    }
    const std::span<const uint8_t> mapped = buffers_[buffer.index]->bytes();
    result.time =
        int64_t{buffer.timestamp.tv_sec} * 10'000'000 + int64_t{buffer.timestamp.tv_usec} * 10;
    result.sample = std::make_unique<BufferSample>(
        *this, buffer.index, mapped.first(std::min<size_t>(buffer.bytesused, mapped.size())),
        result.time);
    return result;
  }

  void shutdown() override {}  // stopped when released

  void requeue(uint32_t index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (int error = device_->control(VIDIOC_QBUF, &buffer); error != 0 && requeue_error_ == 0) {
      requeue_error_ = error;  // reported by the next read instead of waiting for ever
    }
  }

  Result<Nv12Frame> convert(std::span<const uint8_t> bytes, uint32_t width, uint32_t height) const {
    if (pixel_format_ == V4L2_PIX_FMT_YUYV) {
      return nv12_from_yuyv(bytes, std::max(stride_, 2 * width), width, height);
    }
    return nv12_from_nv12(bytes, std::max(stride_, width), width, height);
  }

 private:
  Result<void> start() {
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (int error = device_->control(VIDIOC_REQBUFS, &request); error != 0) {
      return failure("VIDIOC_REQBUFS", error);
    }
    if (request.count == 0) {
      return fail("VIDIOC_REQBUFS: the device gave no buffers");
    }
    for (uint32_t i = 0; i < request.count; ++i) {
      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      buffer.index = i;
      if (int error = device_->control(VIDIOC_QUERYBUF, &buffer); error != 0) {
        return failure("VIDIOC_QUERYBUF", error);
      }
      auto mapped = device_->map(buffer.length, buffer.m.offset);
      if (!mapped) {
        return Error{mapped.error()};
      }
      buffers_.push_back(std::move(mapped.value()));
      if (int error = device_->control(VIDIOC_QBUF, &buffer); error != 0) {
        return failure("VIDIOC_QBUF", error);
      }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (int error = device_->control(VIDIOC_STREAMON, &type); error != 0) {
      return failure("VIDIOC_STREAMON", error);
    }
    streaming_ = true;
    return {};
  }

  std::unique_ptr<V4l2Device> device_;  // closed after the buffers are unmapped
  std::vector<DeviceType> types_;
  std::vector<std::unique_ptr<MappedMemory>> buffers_;  // by buffer index
  uint32_t pixel_format_ = 0;
  uint32_t stride_ = 0;
  bool streaming_ = false;
  int requeue_error_ = 0;
};

BufferSample::~BufferSample() {
  reader_.requeue(index_);
}

Result<Nv12Frame> BufferSample::nv12(uint32_t width, uint32_t height, uint64_t fallback_us) {
  Result<Nv12Frame> frame = reader_.convert(bytes_, width, height);
  if (frame) {
    frame->timestamp_us = time_ >= 0 ? static_cast<uint64_t>(time_) / 10 : fallback_us;
  }
  return frame;
}

class V4l2Activation final : public Activation {
 public:
  V4l2Activation(std::string path, V4l2Opener open)
      : path_(std::move(path)), open_(std::move(open)) {}

  Result<std::unique_ptr<Reader>> activate() override {
    Result<std::unique_ptr<V4l2Device>> device = open_(path_);
    if (!device) {
      return Error{device.error()};
    }
    return v4l2_reader(std::move(device.value()));
  }

 private:
  std::string path_;
  V4l2Opener open_;
};

std::optional<unsigned> video_node_number(const std::string& name) {
  constexpr std::string_view kPrefix = "video";
  if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0 ||
      name.size() > kPrefix.size() + 9) {
    return std::nullopt;
  }
  unsigned number = 0;
  for (size_t i = kPrefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') {
      return std::nullopt;
    }
    number = number * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return number;
}

}  // namespace

std::vector<CameraInfo> list_v4l2_cameras(const std::vector<std::string>& paths,
                                          const V4l2Opener& open) {
  std::vector<CameraInfo> cameras;
  for (const std::string& path : paths) {
    Result<std::unique_ptr<V4l2Device>> device = open(path);
    if (!device) {
      continue;
    }
    if (std::optional<std::string> card = capture_card(*device.value())) {
      cameras.push_back({std::move(*card), path, std::make_unique<V4l2Activation>(path, open)});
    }
  }
  return cameras;
}

std::unique_ptr<Reader> v4l2_reader(std::unique_ptr<V4l2Device> device) {
  return std::make_unique<V4l2Reader>(std::move(device));
}

std::vector<std::string> video_device_paths(const std::string& dir) {
  std::vector<std::pair<unsigned, std::string>> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (std::optional<unsigned> number = video_node_number(name)) {
      found.emplace_back(*number, entry.path().string());
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& [number, path] : found) {
    paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace korvex::camera
