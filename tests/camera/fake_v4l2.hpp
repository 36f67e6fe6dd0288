#pragma once

// A V4L2 capture device in memory: its capabilities and formats, and a script
// of what each dequeue brings. The test keeps the state to look at it after
// the camera has closed the device.

#include <linux/videodev2.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "camera/v4l2_device_linux.hpp"

namespace korvex::camera::test {

struct FakeFormat {
  uint32_t pixel_format = 0;
  std::vector<std::pair<uint32_t, uint32_t>> sizes;  // min and max when stepwise
  bool stepwise_sizes = false;
  std::vector<v4l2_fract> intervals;  // every size's; min and max when stepwise
  bool stepwise_intervals = false;
};

// What one VIDIOC_DQBUF brings.
struct Delivery {
  int error = 0;  // the call fails with this errno
  uint32_t flags = 0;
  std::vector<uint8_t> bytes;
  timeval timestamp{0, 0};
  int index_offset = 0;  // added to the buffer's index, for a driver that errs
};

struct FakeV4l2State {
  uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  uint32_t device_caps = 0;  // used when capabilities has V4L2_CAP_DEVICE_CAPS
  std::string card = "Fake Cam";
  std::vector<FakeFormat> formats;
  uint32_t padding = 0;        // bytes after every row of a picture
  bool ignore_format = false;  // S_FMT keeps the first format's first size
  int queue_error_after = -1;  // VIDIOC_QBUF fails after this many calls
  std::deque<Delivery> deliveries;

  // Seen by the test.
  v4l2_pix_format format{};
  v4l2_fract interval{0, 0};
  std::vector<std::vector<uint8_t>> buffers;
  std::deque<uint32_t> queued;
  int queue_calls = 0;
  int maps = 0;
  int unmaps = 0;
  bool streaming = false;
  bool stopped = false;
  bool closed = false;
};

class FakeMapping final : public MappedMemory {
 public:
  FakeMapping(std::shared_ptr<FakeV4l2State> state, std::span<const uint8_t> bytes)
      : state_(std::move(state)), bytes_(bytes) {}
  ~FakeMapping() override { ++state_->unmaps; }
  std::span<const uint8_t> bytes() const override { return bytes_; }

 private:
  std::shared_ptr<FakeV4l2State> state_;
  std::span<const uint8_t> bytes_;
};

class FakeV4l2 final : public V4l2Device {
 public:
  static constexpr uint32_t kOffsetStep = 1 << 20;

  explicit FakeV4l2(std::shared_ptr<FakeV4l2State> state) : s_(std::move(state)) {}
  ~FakeV4l2() override { s_->closed = true; }

  int control(unsigned long request, void* arg) override {
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto& caps = *static_cast<v4l2_capability*>(arg);
        caps.capabilities = s_->capabilities;
        caps.device_caps = s_->device_caps;
        std::copy_n(s_->card.begin(), std::min(s_->card.size(), sizeof caps.card), caps.card);
        return 0;
      }
      case VIDIOC_ENUM_FMT: {
        auto& e = *static_cast<v4l2_fmtdesc*>(arg);
        if (e.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || e.index >= s_->formats.size()) {
          return EINVAL;
        }
        e.pixelformat = s_->formats[e.index].pixel_format;
        return 0;
      }
      case VIDIOC_ENUM_FRAMESIZES:
        return frame_size(*static_cast<v4l2_frmsizeenum*>(arg));
      case VIDIOC_ENUM_FRAMEINTERVALS:
        return frame_interval(*static_cast<v4l2_frmivalenum*>(arg));
      case VIDIOC_S_FMT:
        return set_format(*static_cast<v4l2_format*>(arg));
      case VIDIOC_S_PARM:
        s_->interval = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
        return 0;
      case VIDIOC_REQBUFS: {
        auto& r = *static_cast<v4l2_requestbuffers*>(arg);
        r.count = std::min<uint32_t>(r.count, 3);  // drivers may give fewer
        s_->buffers.assign(r.count, std::vector<uint8_t>(s_->format.sizeimage));
        return 0;
      }
      case VIDIOC_QUERYBUF: {
        auto& b = *static_cast<v4l2_buffer*>(arg);
        if (b.index >= s_->buffers.size()) {
          return EINVAL;
        }
        b.length = static_cast<uint32_t>(s_->buffers[b.index].size());
        b.m.offset = b.index * kOffsetStep;
        return 0;
      }
      case VIDIOC_QBUF: {
        const auto& b = *static_cast<v4l2_buffer*>(arg);
        if (s_->queue_error_after >= 0 && s_->queue_calls >= s_->queue_error_after) {
          return ENODEV;
        }
        ++s_->queue_calls;
        if (b.index >= s_->buffers.size()) {
          return EINVAL;
        }
        s_->queued.push_back(b.index);
        return 0;
      }
      case VIDIOC_DQBUF:
        return dequeue(*static_cast<v4l2_buffer*>(arg));
      case VIDIOC_STREAMON:
        s_->streaming = true;
        return 0;
      case VIDIOC_STREAMOFF:
        s_->stopped = true;
        return 0;
      default:
        return ENOTTY;
    }
  }

  Result<std::unique_ptr<MappedMemory>> map(uint32_t length, uint32_t offset) override {
    const uint32_t index = offset / kOffsetStep;
    if (offset % kOffsetStep != 0 || index >= s_->buffers.size() ||
        length != s_->buffers[index].size()) {
      return fail("mmap: Invalid argument (os error 22)");
    }
    ++s_->maps;
    return std::unique_ptr<MappedMemory>(
        std::make_unique<FakeMapping>(s_, std::span<const uint8_t>(s_->buffers[index])));
  }

 private:
  const FakeFormat* find(uint32_t pixel_format) const {
    for (const FakeFormat& f : s_->formats) {
      if (f.pixel_format == pixel_format) {
        return &f;
      }
    }
    return nullptr;
  }

  int frame_size(v4l2_frmsizeenum& e) const {
    const FakeFormat* f = find(e.pixel_format);
    if (f == nullptr || e.index >= (f->stepwise_sizes ? 1 : f->sizes.size())) {
      return EINVAL;
    }
    if (f->stepwise_sizes) {
      e.type = V4L2_FRMSIZE_TYPE_STEPWISE;
      e.stepwise = {f->sizes[0].first,  f->sizes[1].first,  16,
                    f->sizes[0].second, f->sizes[1].second, 16};
    } else {
      e.type = V4L2_FRMSIZE_TYPE_DISCRETE;
      e.discrete = {f->sizes[e.index].first, f->sizes[e.index].second};
    }
    return 0;
  }

  int frame_interval(v4l2_frmivalenum& e) const {
    const FakeFormat* f = find(e.pixel_format);
    if (f == nullptr || e.index >= (f->stepwise_intervals ? 1 : f->intervals.size())) {
      return EINVAL;
    }
    if (f->stepwise_intervals) {
      e.type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
      e.stepwise = {f->intervals[0], f->intervals[1], {1, 1}};
    } else {
      e.type = V4L2_FRMIVAL_TYPE_DISCRETE;
      e.discrete = f->intervals[e.index];
    }
    return 0;
  }

  int set_format(v4l2_format& format) {
    v4l2_pix_format& pix = format.fmt.pix;
    if (s_->ignore_format || find(pix.pixelformat) == nullptr) {
      pix.pixelformat = s_->formats[0].pixel_format;
      pix.width = s_->formats[0].sizes[0].first;
      pix.height = s_->formats[0].sizes[0].second;
    }
    const bool yuyv = pix.pixelformat == V4L2_PIX_FMT_YUYV;
    pix.bytesperline = (yuyv ? 2 * pix.width : pix.width) + s_->padding;
    pix.sizeimage = pix.bytesperline * (yuyv ? pix.height : pix.height * 3 / 2);
    s_->format = pix;
    return 0;
  }

  int dequeue(v4l2_buffer& b) {
    if (!s_->streaming) {
      return EINVAL;
    }
    if (s_->deliveries.empty()) {
      return EPIPE;  // after the last buffer
    }
    if (s_->queued.empty()) {
      return EINVAL;  // a real device would wait for ever: the test fails instead
    }
    const Delivery d = s_->deliveries.front();
    s_->deliveries.pop_front();
    if (d.error != 0) {
      return d.error;
    }
    const uint32_t index = s_->queued.front();
    s_->queued.pop_front();
    std::vector<uint8_t>& memory = s_->buffers[index];
    std::copy_n(d.bytes.begin(), std::min(d.bytes.size(), memory.size()), memory.begin());
    b.index = index + d.index_offset;
    b.bytesused = static_cast<uint32_t>(d.bytes.size());
    b.flags = d.flags;
    b.timestamp = d.timestamp;
    return 0;
  }

  std::shared_ptr<FakeV4l2State> s_;
};

inline V4l2Opener fake_opener(std::map<std::string, std::shared_ptr<FakeV4l2State>> devices) {
  return [devices](const std::string& path) -> Result<std::unique_ptr<V4l2Device>> {
    const auto found = devices.find(path);
    if (found == devices.end()) {
      return fail(path + ": Permission denied (os error 13)");
    }
    return std::unique_ptr<V4l2Device>(std::make_unique<FakeV4l2>(found->second));
  };
}

}  // namespace korvex::camera::test
