// The output layer over PulseAudio's client library (also served by
// PipeWire's PulseAudio server): sinks are the endpoints, their descriptions
// the names. Queries go through a threaded main loop; playback is in
// pulse_playback_linux.cpp.

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/thread-mainloop.h>

#include <fmt/format.h>

#include "audio/audio_host.hpp"
#include "audio/pulse_playback_linux.hpp"

namespace korvex::audio {
namespace {

constexpr const char* kClientName = "korvex-receiver";

struct SinkInfo {
  std::string name;
  std::string description;
  pa_sample_spec spec{};
};

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

class PulseEndpoint final : public OutputEndpoint {
 public:
  explicit PulseEndpoint(SinkInfo sink) : sink_(std::move(sink)) {}

  Result<std::string> name() const override {
    if (sink_.description.empty()) {
      return fail(fmt::format("sink {} has no description", sink_.name));
    }
    return sink_.description;
  }

  // The server converts a stream into the sink's own format and rate, so
  // every sink takes float samples at any rate, with its own channels: the
  // receiver plays 48 kHz float whatever the sink uses (S32, U8, 44.1 kHz).
  Result<std::vector<ConfigRange>> supported_configs() const override {
    return std::vector<ConfigRange>{
        ConfigRange{SampleFormat::F32, sink_.spec.channels, 1, PA_RATE_MAX}};
  }

  // The sink's own rate and channels, in float as above.
  Result<StreamConfig> default_config() const override {
    return StreamConfig{SampleFormat::F32, sink_.spec.channels, sink_.spec.rate};
  }

  Result<std::unique_ptr<OutputStream>> build_stream(const StreamConfig& config,
                                                     DataCallback on_data,
                                                     ErrorCallback on_error) override {
    return open_pulse_playback(sink_.name, config, std::move(on_data), std::move(on_error));
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
