// The output layer over PulseAudio's client library (also served by
// PipeWire's PulseAudio server): sinks are the endpoints, their descriptions
// the names. Queries go through a threaded main loop; playback through the
// simple API, whose blocking write paces the render thread.

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/simple.h>
#include <pulse/thread-mainloop.h>

#include <fmt/format.h>

#include "audio/audio_host.hpp"
#include "audio/render_thread.hpp"

namespace korvex::audio {
namespace {

constexpr const char* kClientName = "korvex-receiver";
// Audio the server holds for us: enough to ride out scheduling hiccups of the
// render thread, small enough to keep the microphone's delay low.
constexpr pa_usec_t kTargetLatencyUs = 30'000;
constexpr uint32_t kBlocksPerSecond = 100;  // the render thread writes 10 ms at a time

struct SinkInfo {
  std::string name;
  std::string description;
  pa_sample_spec spec{};
};

// The sink's own format when it has a name here; other formats (24-bit,
// a-law, µ-law, the other byte order) are offered as F32, which the server
// converts to whatever the sink uses.
SampleFormat format_of(pa_sample_format_t format) {
  switch (format) {
    case PA_SAMPLE_U8:
      return SampleFormat::U8;
    case PA_SAMPLE_S16NE:
      return SampleFormat::I16;
    case PA_SAMPLE_S32NE:
      return SampleFormat::I32;
    default:
      return SampleFormat::F32;
  }
}

Result<pa_sample_format_t> pulse_format(SampleFormat format) {
  switch (format) {
    case SampleFormat::U8:
      return PA_SAMPLE_U8;
    case SampleFormat::I16:
      return PA_SAMPLE_S16NE;
    case SampleFormat::I32:
      return PA_SAMPLE_S32NE;
    case SampleFormat::F32:
      return PA_SAMPLE_FLOAT32NE;
    default:
      return fail(fmt::format("PulseAudio has no {} samples", sample_format_name(format)));
  }
}

// A connection to the server with its own main loop thread. Every query
// holds the loop's lock and waits for its answer.
class PulseConnection {
 public:
  PulseConnection() : loop_(pa_threaded_mainloop_new()) {
    if (loop_ == nullptr) {
      error_ = "pa_threaded_mainloop_new failed";
      return;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
    if (context_ == nullptr) {
      error_ = "pa_context_new failed";
      return;
    }
    pa_context_set_state_callback(context_, &PulseConnection::on_state, loop_);
    if (pa_threaded_mainloop_start(loop_) < 0) {
      error_ = "pa_threaded_mainloop_start failed";
      return;
    }
    running_ = true;
    pa_threaded_mainloop_lock(loop_);
    // Never start a sound server as a side effect of listing endpoints.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      error_ = context_error("connect to PulseAudio");
    } else {
      for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
          break;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
          error_ = context_error("connect to PulseAudio");
          break;
        }
        pa_threaded_mainloop_wait(loop_);
      }
    }
    pa_threaded_mainloop_unlock(loop_);
  }

  ~PulseConnection() {
    if (running_) {
      pa_threaded_mainloop_stop(loop_);
    }
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_ != nullptr) {
      pa_threaded_mainloop_free(loop_);
    }
  }

  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  Result<std::vector<SinkInfo>> sinks() {
    std::vector<SinkInfo> found;
    auto done = run(
        "list sinks",
        [&](void* userdata) {
          return pa_context_get_sink_info_list(context_, &PulseConnection::on_sink, userdata);
        },
        &found);
    if (!done) {
      return fail(done.error());
    }
    return found;
  }

  Result<std::string> default_sink_name() {
    std::string name;
    auto done = run(
        "ask for the default sink",
        [&](void* userdata) {
          return pa_context_get_server_info(context_, &PulseConnection::on_server, userdata);
        },
        &name);
    if (!done) {
      return fail(done.error());
    }
    return name;
  }

 private:
  template <class T>
  struct Query {
    pa_threaded_mainloop* loop;
    T* out;
  };

  template <class Start, class T>
  Result<void> run(const char* step, Start start, T* out) {
    if (!error_.empty()) {
      return fail(error_);
    }
    Query<T> query{loop_, out};
    pa_threaded_mainloop_lock(loop_);
    pa_operation* operation = start(&query);
    if (operation == nullptr) {
      std::string error = context_error(step);
      pa_threaded_mainloop_unlock(loop_);
      return fail(error);
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
      pa_threaded_mainloop_wait(loop_);
    }
    const bool cancelled = pa_operation_get_state(operation) == PA_OPERATION_CANCELLED;
    pa_operation_unref(operation);
    std::string error = cancelled ? context_error(step) : std::string();
    pa_threaded_mainloop_unlock(loop_);
    if (cancelled) {
      return fail(error);
    }
    return {};
  }

  std::string context_error(const char* step) const {
    return fmt::format("{}: {}", step, pa_strerror(pa_context_errno(context_)));
  }

  static void on_state(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
  }

  static void on_sink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* query = static_cast<Query<std::vector<SinkInfo>>*>(userdata);
    if (eol == 0 && info != nullptr) {
      query->out->push_back(SinkInfo{info->name ? info->name : "",
                                     info->description ? info->description : "",
                                     info->sample_spec});
    }
    if (eol != 0) {
      pa_threaded_mainloop_signal(query->loop, 0);
    }
  }

  static void on_server(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<Query<std::string>*>(userdata);
    if (info != nullptr && info->default_sink_name != nullptr) {
      *query->out = info->default_sink_name;
    }
    pa_threaded_mainloop_signal(query->loop, 0);
  }

  pa_threaded_mainloop* loop_;
  pa_context* context_ = nullptr;
  bool running_ = false;
  std::string error_;  // why the connection is unusable; empty when it is ready
};

struct SimpleFree {
  void operator()(pa_simple* simple) const { pa_simple_free(simple); }
};

class PulseStream final : public OutputStream {
 public:
  PulseStream(std::unique_ptr<pa_simple, SimpleFree> simple, size_t block_bytes,
              DataCallback on_data, ErrorCallback on_error)
      : render_(
            std::make_shared<Render>(Render{std::move(simple), std::vector<std::byte>(block_bytes),
                                            std::move(on_data), std::move(on_error)})) {}

  Result<void> play() override {
    auto started = thread_.start("audio-render", [render = render_](const std::atomic<bool>& stop) {
      while (!stop) {
        render->on_data(render->block);
        int error = 0;
        if (pa_simple_write(render->simple.get(), render->block.data(), render->block.size(),
                            &error) < 0) {
          render->on_error(fmt::format("pa_simple_write: {}", pa_strerror(error)));
          return;
        }
      }
    });
    if (!started) {
      return fail(fmt::format("spawn audio-render thread: {}", started.error()));
    }
    return {};
  }

 private:
  // Everything the render thread uses; it holds its own reference.
  struct Render {
    std::unique_ptr<pa_simple, SimpleFree> simple;
    std::vector<std::byte> block;  // one 10 ms block, filled by on_data
    DataCallback on_data;
    ErrorCallback on_error;
  };
  std::shared_ptr<Render> render_;
  RenderThread thread_;  // last: stops the thread before anything else goes
};

class PulseEndpoint final : public OutputEndpoint {
 public:
  explicit PulseEndpoint(SinkInfo sink) : sink_(std::move(sink)) {}

  Result<std::string> name() const override {
    if (sink_.description.empty()) {
      return fail(fmt::format("sink {} has no description", sink_.name));
    }
    return sink_.description;
  }

  // The sink's sample specification is its one range and its default.
  Result<std::vector<ConfigRange>> supported_configs() const override {
    return std::vector<ConfigRange>{ConfigRange{format_of(sink_.spec.format), sink_.spec.channels,
                                                sink_.spec.rate, sink_.spec.rate}};
  }

  Result<StreamConfig> default_config() const override {
    return StreamConfig{format_of(sink_.spec.format), sink_.spec.channels, sink_.spec.rate};
  }

  Result<std::unique_ptr<OutputStream>> build_stream(const StreamConfig& config,
                                                     DataCallback on_data,
                                                     ErrorCallback on_error) override {
    auto format = pulse_format(config.format);
    if (!format) {
      return fail(format.error());
    }
    const pa_sample_spec spec{format.value(), config.sample_rate,
                              static_cast<uint8_t>(config.channels)};
    if (config.channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&spec)) {
      return fail(fmt::format("PulseAudio cannot play {} Hz with {} channels", config.sample_rate,
                              config.channels));
    }
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    std::unique_ptr<pa_simple, SimpleFree> simple(
        pa_simple_new(nullptr, kClientName, PA_STREAM_PLAYBACK, sink_.name.c_str(),
                      "phone microphone", &spec, nullptr, &attr, &error));
    if (!simple) {
      return fail(fmt::format("pa_simple_new: {}", pa_strerror(error)));
    }
    const size_t frames = std::max<size_t>(config.sample_rate / kBlocksPerSecond, 1);
    return std::unique_ptr<OutputStream>(std::make_unique<PulseStream>(
        std::move(simple), frames * pa_frame_size(&spec), std::move(on_data), std::move(on_error)));
  }

 private:
  SinkInfo sink_;
};

class PulseHost final : public AudioHost {
 public:
  std::string_view name() const override { return "PulseAudio"; }

  std::shared_ptr<OutputEndpoint> default_output() override {
    auto default_name = connection_.default_sink_name();
    auto sinks = connection_.sinks();
    if (!default_name || !sinks) {
      return nullptr;
    }
    for (auto& sink : sinks.value()) {
      if (sink.name == default_name.value()) {
        return std::make_shared<PulseEndpoint>(std::move(sink));
      }
    }
    return nullptr;
  }

  Result<std::vector<std::shared_ptr<OutputEndpoint>>> outputs() override {
    auto sinks = connection_.sinks();
    if (!sinks) {
      return fail(sinks.error());
    }
    std::vector<std::shared_ptr<OutputEndpoint>> endpoints;
    for (auto& sink : sinks.value()) {
      endpoints.push_back(std::make_shared<PulseEndpoint>(std::move(sink)));
    }
    return endpoints;
  }

 private:
  PulseConnection connection_;
};

}  // namespace

std::unique_ptr<AudioHost> make_audio_host() {
  return std::make_unique<PulseHost>();
}

}  // namespace korvex::audio
