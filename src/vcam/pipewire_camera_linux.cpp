#include "vcam/pipewire_camera_linux.hpp"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>

#include <string>
#include <unordered_map>

#include <fmt/format.h>

#include "picture/camera_picture.hpp"
#include "pipewire/clock_linux.hpp"
#include "pipewire/connection_linux.hpp"
#include "platform/console.hpp"
#include "platform/os_error.hpp"
#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {
namespace {

// Browsers and the camera portal want a fixed size per format, so each size is
// offered as a format of its own.
struct OfferedSize {
  uint32_t width;
  uint32_t height;
};
constexpr OfferedSize kOfferedSizes[] = {{1920, 1080}, {1280, 720}, {640, 360}};
constexpr uint32_t kFramesPerSecond = 30;
// Buffers the stream allows, each a whole picture (3 MB at 1080p). Readers
// take as many as allowed; 4 keep a reader that lags a little (GStreamer into
// a pipe, on a busy machine) at 30 pictures a second, 2 or 3 did not.
constexpr int kBuffers = 4;
constexpr int64_t kAnswerTimeNs = 5'000'000'000;
constexpr int64_t kGoodbyeTimeNs = 1'000'000'000;

class PipeWireCamera final : public Camera {
 public:
  PipeWireCamera() : picture_(picture::CameraPicture::for_system()) {}
  ~PipeWireCamera() override;
  PipeWireCamera(const PipeWireCamera&) = delete;
  PipeWireCamera& operator=(const PipeWireCamera&) = delete;

  Result<void> connect();
  Result<void> start() override;
  void shutdown() override;

 private:
  // Called on the loop thread, with its lock held.
  void on_core_done(int seq);
  void on_state_changed(pw_stream_state state, const char* error);
  void on_param_changed(uint32_t id, const spa_pod* param);
  void on_timeout();
  void fill_buffer();
  void note_error(std::string text);
  void set_timer(bool running);
  void destroy_node();

  static const pw_stream_events kStreamEvents;

  std::unique_ptr<pipewire::Connection> connection_;
  pw_thread_loop* loop_ = nullptr;  // the connection's
  pw_stream* stream_ = nullptr;
  spa_hook stream_listener_{};
  spa_source* timer_ = nullptr;

  // Under the loop's lock.
  pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED;
  std::string error_;        // the first failure, empty while all is well
  bool registered_ = false;  // later failures are printed as they come
  int goodbye_seq_ = -1;
  bool goodbye_done_ = false;
  uint32_t width_ = 0;  // negotiated; 0 while no format is
  uint32_t height_ = 0;
  spa_fraction rate_{kFramesPerSecond, 1};
  uint32_t sequence_ = 0;
  picture::CameraPicture picture_;  // the loop thread's
  // What each of the stream's buffers holds; the stream cycles them, so a
  // picture that has not changed is drawn once per buffer, not once per tick.
  std::unordered_map<const pw_buffer*, picture::HeldPicture> held_;
};

const pw_stream_events PipeWireCamera::kStreamEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char* error) {
    static_cast<PipeWireCamera*>(self)->on_state_changed(state, error);
  };
  events.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
    static_cast<PipeWireCamera*>(self)->on_param_changed(id, param);
  };
  events.process = [](void* self) { static_cast<PipeWireCamera*>(self)->fill_buffer(); };
  events.add_buffer = [](void* self, pw_buffer* buffer) {
    static_cast<PipeWireCamera*>(self)->held_[buffer] = {};
  };
  events.remove_buffer = [](void* self, pw_buffer* buffer) {
    static_cast<PipeWireCamera*>(self)->held_.erase(buffer);
  };
  return events;
}();

PipeWireCamera::~PipeWireCamera() {
  if (connection_ == nullptr) {
    return;
  }
  {
    pipewire::Connection::Lock lock(*connection_);
    destroy_node();
  }
  connection_.reset();  // before the fields its loop thread uses
}

Result<void> PipeWireCamera::connect() {
  auto connection = pipewire::Connection::start();
  if (!connection) {
    return fail(connection.error());
  }
  connection_ = std::move(connection.value());
  loop_ = connection_->thread_loop();
  return connection_->connect({
      .done = [this](int seq) { on_core_done(seq); },
      .error = [this](std::string text) { note_error(std::move(text)); },
  });
}

Result<void> PipeWireCamera::start() {
  pw_thread_loop_lock(loop_);
  pw_properties* properties = pw_properties_new(
      PW_KEY_NODE_NAME, kNodeName.data(), PW_KEY_NODE_DESCRIPTION, kCameraName.data(),
      PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_MEDIA_TYPE, "Video",
      PW_KEY_MEDIA_CATEGORY, "Capture", nullptr);
  stream_ =
      pw_stream_new(connection_->core(), kCameraName.data(), properties);  // takes the properties
  if (stream_ == nullptr) {
    const std::string cause = platform::last_os_error_text();
    pw_thread_loop_unlock(loop_);
    return fail("PipeWire: stream: " + cause);
  }
  pw_stream_add_listener(stream_, &stream_listener_, &kStreamEvents, this);
  timer_ = pw_loop_add_timer(
      pw_thread_loop_get_loop(loop_),
      [](void* self, uint64_t) { static_cast<PipeWireCamera*>(self)->on_timeout(); }, this);

  uint8_t storage[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
  const spa_pod* formats[std::size(kOfferedSizes)];
  for (size_t i = 0; i < std::size(kOfferedSizes); ++i) {
    const spa_rectangle size{kOfferedSizes[i].width, kOfferedSizes[i].height};
    const spa_fraction rate{kFramesPerSecond, 1};
    formats[i] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_NV12), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
  }
  const int connected = pw_stream_connect(
      stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), formats,
      std::size(formats));
  if (connected < 0) {
    note_error(fmt::format("connecting the camera node: {}", spa_strerror(connected)));
  }
  // The node exists once the stream has reached the paused state.
  const bool answered = connection_->wait(
      [this] {
        return !error_.empty() || state_ == PW_STREAM_STATE_PAUSED ||
               state_ == PW_STREAM_STATE_STREAMING;
      },
      kAnswerTimeNs);
  if (!answered) {
    note_error("the server did not create the camera node within 5 s");
  }
  Result<void> result;
  if (!error_.empty()) {
    result = fail("PipeWire: " + error_);
    destroy_node();
  } else {
    registered_ = true;
  }
  pw_thread_loop_unlock(loop_);
  return result;
}

void PipeWireCamera::shutdown() {
  pw_thread_loop_lock(loop_);
  destroy_node();
  // A round trip, so the node is gone from the server before the process ends.
  if (error_.empty()) {
    goodbye_done_ = false;
    goodbye_seq_ = pw_core_sync(connection_->core(), PW_ID_CORE, 0);
    connection_->wait([this] { return goodbye_done_ || !error_.empty(); }, kGoodbyeTimeNs);
  }
  pw_thread_loop_unlock(loop_);
}

void PipeWireCamera::destroy_node() {
  held_.clear();
  if (timer_ != nullptr) {
    pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), timer_);
    timer_ = nullptr;
  }
  if (stream_ != nullptr) {
    spa_hook_remove(&stream_listener_);
    pw_stream_destroy(stream_);
    stream_ = nullptr;
  }
}

void PipeWireCamera::note_error(std::string text) {
  if (!error_.empty()) {
    return;
  }
  error_ = std::move(text);
  if (registered_) {
    // The camera is gone for the rest of the run; the receiver goes on.
    platform::write_stderr(fmt::format("virtual camera: PipeWire: {}\n", error_));
  }
  pw_thread_loop_signal(loop_, false);
}

void PipeWireCamera::on_core_done(int seq) {
  if (seq == goodbye_seq_) {
    goodbye_done_ = true;
    pw_thread_loop_signal(loop_, false);
  }
}

void PipeWireCamera::on_state_changed(pw_stream_state state, const char* error) {
  state_ = state;
  if (state == PW_STREAM_STATE_ERROR) {
    note_error(fmt::format("camera node: {}", error != nullptr ? error : "failed"));
  }
  // Nobody reading means no pictures to make.
  set_timer(state == PW_STREAM_STATE_STREAMING && pw_stream_is_driving(stream_));
  pw_thread_loop_signal(loop_, false);
}

void PipeWireCamera::set_timer(bool running) {
  if (timer_ == nullptr) {
    return;
  }
  pw_loop* loop = pw_thread_loop_get_loop(loop_);
  if (!running) {
    pw_loop_update_timer(loop, timer_, nullptr, nullptr, false);
    return;
  }
  const uint64_t period_ns = uint64_t{1'000'000'000} * rate_.denom / rate_.num;
  timespec first{0, 1};
  timespec interval{static_cast<time_t>(period_ns / 1'000'000'000),
                    static_cast<long>(period_ns % 1'000'000'000)};
  pw_loop_update_timer(loop, timer_, &first, &interval, false);
}

void PipeWireCamera::on_param_changed(uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format) {
    return;
  }
  width_ = 0;
  height_ = 0;
  spa_video_info_raw info{};
  if (param == nullptr || spa_format_video_raw_parse(param, &info) < 0 ||
      info.format != SPA_VIDEO_FORMAT_NV12 || info.size.width == 0 || info.size.height == 0) {
    return;  // no format: buffers go out empty until there is one
  }
  width_ = info.size.width;
  height_ = info.size.height;
  rate_ = info.framerate.num != 0 && info.framerate.denom != 0 ? info.framerate
                                                               : spa_fraction{kFramesPerSecond, 1};

  const uint32_t stride = width_;
  const uint32_t size = width_ * height_ * 3 / 2;
  uint8_t storage[512];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
  const spa_pod* params[2];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(kBuffers, 2, kBuffers), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(size), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
      SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
  pw_stream_update_params(stream_, params, 2);
}

void PipeWireCamera::on_timeout() {
  if (stream_ != nullptr) {
    pw_stream_trigger_process(stream_);
  }
}

void PipeWireCamera::fill_buffer() {
  pw_buffer* taken = pw_stream_dequeue_buffer(stream_);
  if (taken == nullptr) {
    return;  // the reader still holds them all: this picture is skipped
  }
  spa_buffer* buffer = taken->buffer;
  if (buffer->n_datas >= 1) {
    spa_data& data = buffer->datas[0];
    const uint64_t size = uint64_t{width_} * height_ * 3 / 2;
    if (data.data != nullptr && width_ != 0 && data.maxsize >= size) {
      picture_.render(picture::PictureBuffer{picture::PixelFormat::nv12, width_, height_,
                                             static_cast<uint8_t*>(data.data), width_},
                      held_[taken]);
      data.chunk->offset = 0;
      data.chunk->size = static_cast<uint32_t>(size);
      data.chunk->stride = static_cast<int32_t>(width_);
      data.chunk->flags = 0;
    } else {
      data.chunk->size = 0;
    }
  }
  auto* header = static_cast<spa_meta_header*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
  if (header != nullptr) {
    header->flags = 0;
    header->pts = static_cast<int64_t>(pipewire::monotonic_ns());
    header->dts_offset = 0;
    header->seq = sequence_++;
  }
  pw_stream_queue_buffer(stream_, taken);
}

}  // namespace

Result<std::unique_ptr<Camera>> connect_pipewire_camera() {
  auto camera = std::make_unique<PipeWireCamera>();
  if (auto connected = camera->connect(); !connected) {
    return fail(connected.error());
  }
  return std::unique_ptr<Camera>(std::move(camera));
}

}  // namespace korvex::vcam
