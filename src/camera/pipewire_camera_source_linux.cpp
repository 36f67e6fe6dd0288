#include <spa/param/format.h>
#include <spa/param/video/format.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "camera/packed_picture.hpp"
#include "camera/pipewire_camera_linux.hpp"
#include "camera/pipewire_format_linux.hpp"
#include "pipewire/clock_linux.hpp"

namespace korvex::camera {
namespace {

// Long enough for a session manager, or a test, to link the probe to the
// camera, and for a paused camera to start.
constexpr int64_t kPictureTimeNs = 10'000'000'000;
// The probe's node, so that it can be found and linked by name.
constexpr const char* kProbeNodeName = "korvex-probe";

// The formats the node offers, in its order.
Result<std::vector<NodeFormat>> node_formats(PipeWireSession& session, uint32_t id) {
  std::vector<NodeFormat> formats;
  pw_registry* registry = pw_core_get_registry(session.core(), PW_VERSION_REGISTRY, 0);
  if (registry == nullptr) {
    return fail("PipeWire: registry: out of memory");
  }
  auto* node = static_cast<pw_node*>(
      pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
  pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));  // the bound node stays
  if (node == nullptr) {
    return fail("PipeWire: node: out of memory");
  }
  pw_node_events events{};
  events.version = PW_VERSION_NODE_EVENTS;
  events.param = [](void* data, int, uint32_t id, uint32_t, uint32_t, const spa_pod* param) {
    if (id != SPA_PARAM_EnumFormat) {
      return;
    }
    if (std::optional<NodeFormat> format = parse_format(param)) {
      static_cast<std::vector<NodeFormat>*>(data)->push_back(*format);
    }
  };
  spa_hook listener{};
  pw_node_add_listener(node, &listener, &events, &formats);
  pw_node_enum_params(node, 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
  if (auto answered = session.await(reinterpret_cast<pw_proxy*>(node), listener); !answered) {
    return fail(answered.error());
  }
  return formats;
}

// One picture as the stream delivered it, copied out of its buffer so that
// the buffer goes straight back to the camera.
class PictureSample final : public Sample {
 public:
  PictureSample(std::vector<uint8_t> bytes, uint32_t stride, uint32_t video_format, int64_t time)
      : bytes_(std::move(bytes)), stride_(stride), video_format_(video_format), time_(time) {}

  Result<Nv12Frame> nv12(uint32_t width, uint32_t height, uint64_t fallback_us) override {
    Result<Nv12Frame> frame =
        video_format_ == SPA_VIDEO_FORMAT_YUY2
            ? nv12_from_yuyv(bytes_, std::max(stride_, 2 * width), width, height)
            : nv12_from_nv12(bytes_, std::max(stride_, width), width, height);
    if (frame) {
      frame->timestamp_us = time_ >= 0 ? static_cast<uint64_t>(time_) / 10 : fallback_us;
    }
    return frame;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t stride_;
  uint32_t video_format_;
  int64_t time_;  // 100-nanosecond units
};

class PipeWireReader final : public Reader {
 public:
  PipeWireReader(std::unique_ptr<PipeWireSession> session, std::string node_name,
                 std::vector<NodeFormat> formats)
      : session_(std::move(session)),
        node_name_(std::move(node_name)),
        formats_(std::move(formats)) {}

  ~PipeWireReader() override {
    PipeWireSession::Lock lock(*session_);
    if (stream_ != nullptr) {
      spa_hook_remove(&stream_listener_);
      pw_stream_destroy(stream_);
    }
  }

  std::optional<MediaType> native_type(uint32_t index) override {
    if (index >= formats_.size()) {
      return std::nullopt;
    }
    return formats_[index].media_type();
  }

  bool converts_yuy2() const override { return true; }

  Result<void> select(uint32_t index) override {
    if (index >= formats_.size()) {
      return fail(fmt::format("PipeWire: no format {}", index));
    }
    selected_ = formats_[index];
    PipeWireSession::Lock lock(*session_);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_NODE_NAME, kProbeNodeName, PW_KEY_TARGET_OBJECT, node_name_.c_str(), nullptr);
    stream_ = pw_stream_new(session_->core(), "Korvex probe", properties);
    if (stream_ == nullptr) {
      return fail("PipeWire: stream: out of memory");
    }
    pw_stream_add_listener(stream_, &stream_listener_, &kStreamEvents, this);

    // Exactly the listed format, so that every picture has the listed size.
    uint8_t storage[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    spa_pod_frame frame{};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(selected_.media_subtype),
                        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&selected_.size), 0);
    if (selected_.media_subtype == SPA_MEDIA_SUBTYPE_raw) {
      spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_format, SPA_POD_Id(selected_.video_format), 0);
    }
    if (selected_.rate.denom != 0) {
      spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&selected_.rate),
                          0);
    }
    const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    const int connected = pw_stream_connect(
        stream_, PW_DIRECTION_INPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        &format, 1);
    if (connected < 0) {
      return fail(
          fmt::format("PipeWire: connecting to {}: {}", node_name_, spa_strerror(connected)));
    }
    return {};
  }

  Result<ReadResult> read() override {
    PipeWireSession::Lock lock(*session_);
    const bool came =
        session_->wait([this] { return picture_.has_value() || !stream_error_.empty() || ended_; },
                       kPictureTimeNs);
    if (!session_->error().empty()) {
      return fail("PipeWire: " + session_->error());
    }
    if (!stream_error_.empty()) {
      return fail("PipeWire: " + stream_error_);
    }
    ReadResult result;
    if (!came) {
      return fail(fmt::format("PipeWire: no picture from {} within {} s", node_name_,
                              kPictureTimeNs / 1'000'000'000));
    }
    if (!picture_) {
      result.end_of_stream = true;
      return result;
    }
    result.time = picture_->time;
    result.sample = std::make_unique<PictureSample>(std::move(picture_->bytes), picture_->stride,
                                                    selected_.video_format, picture_->time);
    picture_.reset();
    return result;
  }

  void shutdown() override {}  // disconnected when released

 private:
  struct Picture {
    std::vector<uint8_t> bytes;
    uint32_t stride = 0;
    int64_t time = 0;  // 100-nanosecond units
  };

  // On the loop thread, with its lock held.
  void on_state_changed(pw_stream_state state, const char* error) {
    if (state == PW_STREAM_STATE_ERROR) {
      stream_error_ = error != nullptr ? error : "the stream failed";
    }
    if (state == PW_STREAM_STATE_STREAMING) {
      streamed_ = true;
    } else if (state == PW_STREAM_STATE_UNCONNECTED && streamed_) {
      ended_ = true;  // the camera went away
    }
    session_->signal();
  }

  // Takes the newest picture; one the probe has not read yet is replaced, as a
  // camera drops pictures an application is too slow for.
  void on_process() {
    pw_buffer* taken = pw_stream_dequeue_buffer(stream_);
    if (taken == nullptr) {
      return;
    }
    const spa_buffer* buffer = taken->buffer;
    if (buffer->n_datas >= 1 && buffer->datas[0].data != nullptr) {
      const spa_data& data = buffer->datas[0];
      const uint32_t offset = std::min(data.chunk->offset, data.maxsize);
      const uint32_t size = std::min(data.chunk->size, data.maxsize - offset);
      const auto* bytes = static_cast<const uint8_t*>(data.data) + offset;
      Picture picture;
      picture.bytes.assign(bytes, bytes + size);
      picture.stride = data.chunk->stride > 0 ? static_cast<uint32_t>(data.chunk->stride) : 0;
      const auto* header = static_cast<const spa_meta_header*>(
          spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
      const int64_t ns =
          header != nullptr ? header->pts : static_cast<int64_t>(pipewire::monotonic_ns());
      picture.time = ns / 100;
      if (size > 0) {
        picture_ = std::move(picture);
        session_->signal();
      }
    }
    pw_stream_queue_buffer(stream_, taken);
  }

  static const pw_stream_events kStreamEvents;

  std::unique_ptr<PipeWireSession> session_;
  std::string node_name_;
  std::vector<NodeFormat> formats_;
  NodeFormat selected_;
  pw_stream* stream_ = nullptr;
  spa_hook stream_listener_{};
  // Under the loop's lock.
  std::optional<Picture> picture_;
  std::string stream_error_;
  bool streamed_ = false;
  bool ended_ = false;
};

const pw_stream_events PipeWireReader::kStreamEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char* error) {
    static_cast<PipeWireReader*>(self)->on_state_changed(state, error);
  };
  events.process = [](void* self) { static_cast<PipeWireReader*>(self)->on_process(); };
  return events;
}();

}  // namespace

Result<std::unique_ptr<Reader>> open_pipewire_camera(const std::string& node_name) {
  Result<std::unique_ptr<PipeWireSession>> session = PipeWireSession::connect();
  if (!session) {
    return Error{session.error()};
  }
  Result<std::vector<NodeFormat>> formats = fail("");
  {
    PipeWireSession::Lock lock(*session.value());
    Result<std::vector<CameraNode>> nodes = find_camera_nodes(*session.value());
    if (!nodes) {
      return Error{nodes.error()};
    }
    const auto node = std::find_if(nodes->begin(), nodes->end(),
                                   [&](const CameraNode& n) { return n.name == node_name; });
    if (node == nodes->end()) {
      return fail(fmt::format("PipeWire: the camera {} is gone", node_name));
    }
    formats = node_formats(*session.value(), node->id);
  }
  if (!formats) {
    return Error{formats.error()};
  }
  return std::unique_ptr<Reader>(std::make_unique<PipeWireReader>(
      std::move(session.value()), node_name, std::move(formats.value())));
}

}  // namespace korvex::camera
