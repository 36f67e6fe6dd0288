// The microphone on PipeWire: an output stream exported as an audio source
// node that desktop sound settings, browsers and call programs list as an
// input. Nothing downstream of a virtual source keeps time, so the node is
// its own driver: a timer on the stream's data loop (real-time where the
// system allows) starts one graph cycle per quantum of the server while
// someone records, and the server pauses the node (and with it the timer)
// when nobody does.

#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <vector>

#include <fmt/format.h>

#include "audio/microphone.hpp"

namespace korvex::audio {
namespace {

constexpr const char* kNodeName = "korvex-microphone";
constexpr const char* kMediaClass = "Audio/Source/Virtual";
// The node shows one port per channel in the graph's own format, as sound
// cards do, from the start: recorders can be linked to it before (or
// without) a session manager configuring it.
constexpr const char* kPortConfig = "{ mode = dsp monitor = false control = false }";
// The cycle until the server has said its own: PipeWire's default quantum.
constexpr uint64_t kDefaultQuantum = 1024;
// Cycles a late driver makes up for at once; more are let go.
constexpr uint64_t kMaxCatchUp = 4;
// How long play() waits for the node, and withdraw() for its removal.
constexpr std::chrono::seconds kServerWait{5};

void init_pipewire() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

uint64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * SPA_NSEC_PER_SEC + static_cast<uint64_t>(now.tv_nsec);
}

std::string pipewire_error(const char* step, int res) {
  return fmt::format("{}: {}", step, spa_strerror(res));
}

class PipeWireMicrophone;

// The microphones that exist, so that withdraw_microphone can reach them
// from the console event's thread. Its lock is taken before a microphone's
// loop lock, never after.
struct Registry {
  std::mutex lock;
  bool withdrawn = false;                 // guarded by lock
  std::vector<PipeWireMicrophone*> live;  // guarded by lock
};

Registry& registry() {
  static Registry instance;
  return instance;
}

class PipeWireMicrophone final : public OutputStream {
 public:
  PipeWireMicrophone(DataCallback on_data, ErrorCallback on_error)
      : on_data_(std::move(on_data)), on_error_(std::move(on_error)) {}

  PipeWireMicrophone(const PipeWireMicrophone&) = delete;
  PipeWireMicrophone& operator=(const PipeWireMicrophone&) = delete;

  ~PipeWireMicrophone() override {
    {
      std::lock_guard hold(registry().lock);
      std::erase(registry().live, this);
    }
    // After the loop thread has stopped no callback of ours runs, and the
    // objects below belong to this thread alone.
    if (running_) {
      pw_thread_loop_stop(loop_);
    }
    // The ticks go before the stream they trigger.
    if (tick_ != nullptr) {
      in_data_loop([this] { pw_loop_destroy_source(data_loop_, tick_); });
    }
    if (stream_ != nullptr) {
      spa_hook_remove(&stream_listener_);
      pw_stream_destroy(stream_);
    }
    if (core_ != nullptr) {
      spa_hook_remove(&core_listener_);
      pw_core_disconnect(core_);
    }
    if (context_ != nullptr) {
      pw_context_destroy(context_);
    }
    if (loop_ != nullptr) {
      pw_thread_loop_destroy(loop_);
    }
  }

  // Connects to the server and makes the stream, not yet exported.
  Result<void> setup() {
    loop_ = pw_thread_loop_new("korvex-mic", nullptr);
    if (loop_ == nullptr) {
      return fail(pipewire_error("pw_thread_loop_new", -errno));
    }
    // The real-time client configuration: the data loop, which renders and
    // keeps the graph's time, gets a real-time priority where allowed.
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                              pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (context_ == nullptr) {
      return fail(pipewire_error("pw_context_new", -errno));
    }
    data_loop_ = pw_data_loop_get_loop(pw_context_get_data_loop(context_));
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ == nullptr) {
      return fail(pipewire_error("connect to PipeWire", -errno));
    }
    static constexpr pw_core_events kCoreEvents = [] {
      pw_core_events events{};
      events.version = PW_VERSION_CORE_EVENTS;
      events.done = &PipeWireMicrophone::on_core_done;
      events.error = &PipeWireMicrophone::on_core_error;
      return events;
    }();
    pw_core_add_listener(core_, &core_listener_, &kCoreEvents, this);

    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CLASS, kMediaClass, PW_KEY_NODE_NAME, kNodeName,
        PW_KEY_NODE_DESCRIPTION, std::string(kMicrophoneName).c_str(), "adapter.auto-port-config",
        kPortConfig, nullptr);
    stream_ = pw_stream_new(core_, "phone microphone", props);
    if (stream_ == nullptr) {
      return fail(pipewire_error("pw_stream_new", -errno));
    }
    static constexpr pw_stream_events kStreamEvents = [] {
      pw_stream_events events{};
      events.version = PW_VERSION_STREAM_EVENTS;
      events.state_changed = &PipeWireMicrophone::on_state;
      events.io_changed = &PipeWireMicrophone::on_io;
      events.process = &PipeWireMicrophone::on_process;
      return events;
    }();
    pw_stream_add_listener(stream_, &stream_listener_, &kStreamEvents, this);

    in_data_loop(
        [this] { tick_ = pw_loop_add_timer(data_loop_, &PipeWireMicrophone::on_tick, this); });
    if (tick_ == nullptr) {
      return fail(pipewire_error("pw_loop_add_timer", -errno));
    }
    return {};
  }

  // Exports the node and waits until the server holds it.
  Result<void> play() override {
    if (int res = pw_thread_loop_start(loop_); res < 0) {
      return fail(pipewire_error("pw_thread_loop_start", res));
    }
    running_ = true;

    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = kMicrophoneConfig.sample_rate;
    info.channels = kMicrophoneConfig.channels;
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    uint8_t pod_memory[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, pod_memory, sizeof(pod_memory));
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);

    pw_thread_loop_lock(loop_);
    Result<void> result;
    if (int res = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
        res < 0) {
      result = fail(pipewire_error("pw_stream_connect", res));
    } else if (!wait_until([this] { return exported_ || !failure_.empty(); })) {
      result = fail("PipeWire: the server did not create the microphone in time");
    } else if (!failure_.empty()) {
      result = fail(failure_);
    } else {
      // From here on failures go to the error callback.
      reporting_ = true;
    }
    pw_thread_loop_unlock(loop_);
    return result;
  }

  // Removes the node and waits until the server has done so.
  void withdraw() {
    pw_thread_loop_lock(loop_);
    if (exported_ && failure_.empty()) {
      withdrawing_ = true;
      drive(false);
      pw_stream_disconnect(stream_);
      synced_ = false;
      sync_seq_ = pw_core_sync(core_, PW_ID_CORE, 0);
      wait_until([this] { return synced_ || !failure_.empty(); });
    }
    pw_thread_loop_unlock(loop_);
  }

 private:
  // Waits on the loop, whose lock the caller holds, until `done` holds or
  // kServerWait has passed; true when `done` holds.
  template <class Done>
  bool wait_until(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kServerWait;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      pw_thread_loop_timed_wait(loop_, 1);
    }
    return true;
  }

  // Loop thread: the first failure ends the microphone. Before play() has
  // returned it is play()'s result; after, the error callback's.
  void fail_with(std::string error) {
    drive(false);
    if (!failure_.empty()) {
      return;
    }
    failure_ = std::move(error);
    pw_thread_loop_signal(loop_, false);
    if (reporting_ && !withdrawing_) {
      on_error_(failure_);
    }
  }

  // Data thread: the period of the server's cycle, from what it wrote into
  // the node's position.
  uint64_t period_ns() const {
    spa_io_position* position = position_.load();
    uint64_t duration = kDefaultQuantum;
    uint64_t rate = kMicrophoneConfig.sample_rate;
    if (position != nullptr) {
      // The server writes these from its own process.
      const uint64_t server_duration = std::atomic_ref(position->clock.duration).load();
      const uint32_t server_rate = std::atomic_ref(position->clock.rate.denom).load();
      if (server_duration != 0 && server_rate != 0) {
        duration = server_duration;
        rate = server_rate;
      }
    }
    return duration * SPA_NSEC_PER_SEC / rate;
  }

  // Runs `work` on the data loop's thread and waits for it; at once when
  // that loop is not running or this is its thread.
  template <class Work>
  void in_data_loop(Work work) {
    pw_loop_invoke(
        data_loop_,
        [](spa_loop*, bool, uint32_t, const void*, size_t, void* user) {
          (*static_cast<Work*>(user))();
          return 0;
        },
        0, nullptr, 0, true, &work);
  }

  // Data thread, like everything about the ticks: they start at once.
  void start_ticking() {
    ticking_ = true;
    next_tick_ns_ = monotonic_ns();
    arm_tick();
  }

  void stop_ticking() {
    ticking_ = false;
    pw_loop_update_timer(data_loop_, tick_, nullptr, nullptr, false);
  }

  void arm_tick() {
    timespec at{static_cast<time_t>(next_tick_ns_ / SPA_NSEC_PER_SEC),
                static_cast<long>(next_tick_ns_ % SPA_NSEC_PER_SEC)};
    pw_loop_update_timer(data_loop_, tick_, &at, nullptr, true);
  }

  // Loop thread: the node starts or stops driving.
  void drive(bool on) {
    in_data_loop([this, on] { on ? start_ticking() : stop_ticking(); });
  }

  // One graph cycle per quantum of the server, as it is now. Each tick is
  // due one period after the one before it, not after it ran: cycles a busy
  // machine delayed are made up for at once, so the graph keeps real time
  // and the phone's audio is not trimmed for piling up. After a longer
  // stall it starts over from now.
  static void on_tick(void* data, uint64_t) {
    auto* self = static_cast<PipeWireMicrophone*>(data);
    if (!self->ticking_) {
      return;
    }
    pw_stream_trigger_process(self->stream_);
    const uint64_t period = self->period_ns();
    const uint64_t now = monotonic_ns();
    self->next_tick_ns_ += period;
    if (self->next_tick_ns_ + kMaxCatchUp * period < now) {
      self->next_tick_ns_ = now;
    }
    self->arm_tick();
  }

  static void on_state(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* self = static_cast<PipeWireMicrophone*>(data);
    switch (state) {
      case PW_STREAM_STATE_STREAMING:
        // Linked into a graph that another driver runs, the node follows it.
        if (pw_stream_is_driving(self->stream_)) {
          self->drive(true);
        }
        break;
      case PW_STREAM_STATE_PAUSED:
        self->drive(false);
        self->exported_ = true;
        pw_thread_loop_signal(self->loop_, false);
        break;
      case PW_STREAM_STATE_ERROR:
        self->fail_with(fmt::format("PipeWire stream: {}", error ? error : "failed"));
        break;
      case PW_STREAM_STATE_UNCONNECTED:
        if (self->exported_ && !self->withdrawing_) {
          self->fail_with("PipeWire stream: disconnected by the server");
        }
        break;
      case PW_STREAM_STATE_CONNECTING:
        break;
    }
  }

  static void on_io(void* data, uint32_t id, void* area, uint32_t size) {
    auto* self = static_cast<PipeWireMicrophone*>(data);
    if (id == SPA_IO_Position) {
      self->position_ = area != nullptr && size >= sizeof(spa_io_position)
                            ? static_cast<spa_io_position*>(area)
                            : nullptr;
    }
  }

  // Data thread, once per graph cycle.
  static void on_process(void* data) {
    auto* self = static_cast<PipeWireMicrophone*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream_);
    if (buffer == nullptr) {
      return;
    }
    spa_data& out = buffer->buffer->datas[0];
    constexpr uint32_t stride = sizeof(float) * kMicrophoneConfig.channels;
    spa_io_position* position = self->position_.load();
    // What the cycle asks for; a cycle that says nothing takes one quantum.
    uint64_t frames = buffer->requested;
    if (frames == 0) {
      frames = position != nullptr && position->clock.duration != 0 ? position->clock.duration
                                                                    : kDefaultQuantum;
    }
    frames = out.data != nullptr ? std::min<uint64_t>(frames, out.maxsize / stride) : 0;
    const auto bytes = static_cast<uint32_t>(frames * stride);
    if (bytes != 0) {
      self->on_data_(std::span<std::byte>(static_cast<std::byte*>(out.data), bytes));
    }
    out.chunk->offset = 0;
    out.chunk->stride = stride;
    out.chunk->size = bytes;
    if (position != nullptr && pw_stream_is_driving(self->stream_)) {
      // The driver keeps the graph's clock: this cycle starts now.
      spa_io_clock& clock = position->clock;
      const uint64_t now = monotonic_ns();
      clock.nsec = now;
      clock.position += clock.duration;
      clock.delay = 0;
      clock.rate_diff = 1.0;
      clock.next_nsec =
          now + clock.duration * SPA_NSEC_PER_SEC * clock.rate.num / std::max(clock.rate.denom, 1u);
    }
    pw_stream_queue_buffer(self->stream_, buffer);
  }

  static void on_core_done(void* data, uint32_t id, int seq) {
    auto* self = static_cast<PipeWireMicrophone*>(data);
    if (id == PW_ID_CORE && seq == self->sync_seq_) {
      self->synced_ = true;
      pw_thread_loop_signal(self->loop_, false);
    }
  }

  static void on_core_error(void* data, uint32_t id, int, int res, const char* message) {
    // Errors about the stream's own node come through its state.
    if (id == PW_ID_CORE) {
      static_cast<PipeWireMicrophone*>(data)->fail_with(
          fmt::format("PipeWire: {}", message != nullptr ? message : spa_strerror(res)));
    }
  }

  DataCallback on_data_;    // data thread
  ErrorCallback on_error_;  // loop thread
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  spa_hook core_listener_{};
  pw_stream* stream_ = nullptr;
  spa_hook stream_listener_{};
  pw_loop* data_loop_ = nullptr;  // the context's, where the stream renders
  spa_source* tick_ = nullptr;    // on the data loop
  bool running_ = false;          // the loop thread was started
  std::atomic<spa_io_position*> position_{nullptr};
  // Guarded by the loop's lock.
  bool exported_ = false;     // the server created the node
  bool reporting_ = false;    // play() has returned success
  bool withdrawing_ = false;  // the node is being removed on purpose
  bool synced_ = false;
  int sync_seq_ = -1;
  // Data thread.
  bool ticking_ = false;       // the node drives a running graph
  uint64_t next_tick_ns_ = 0;  // when the next cycle is due, on the monotonic clock
  std::string failure_;        // the first failure; empty while all is well
};

class PipeWireMicrophoneHost final : public MicrophoneHost {
 public:
  std::string_view server_name() const override { return "PipeWire"; }

  bool server_running() override {
    init_pipewire();
    pw_loop* loop = pw_loop_new(nullptr);
    if (loop == nullptr) {
      return false;
    }
    pw_context* context = pw_context_new(loop, nullptr, 0);
    pw_core* core = context != nullptr ? pw_context_connect(context, nullptr, 0) : nullptr;
    const bool running = core != nullptr;
    if (core != nullptr) {
      pw_core_disconnect(core);
    }
    if (context != nullptr) {
      pw_context_destroy(context);
    }
    pw_loop_destroy(loop);
    return running;
  }

  Result<std::unique_ptr<OutputStream>> create(DataCallback on_data,
                                               ErrorCallback on_error) override {
    init_pipewire();
    // A microphone that goes away unregisters itself, so the registry's lock
    // is not held while one may.
    auto microphone = std::make_unique<PipeWireMicrophone>(std::move(on_data), std::move(on_error));
    if (auto ready = microphone->setup(); !ready) {
      return fail(ready.error());
    }
    {
      std::lock_guard hold(registry().lock);
      if (!registry().withdrawn) {
        registry().live.push_back(microphone.get());
        return std::unique_ptr<OutputStream>(std::move(microphone));
      }
    }
    return fail("the microphone was withdrawn: the receiver is ending");
  }
};

}  // namespace

std::unique_ptr<MicrophoneHost> make_microphone_host() {
  return std::make_unique<PipeWireMicrophoneHost>();
}

void withdraw_microphone() {
  std::lock_guard hold(registry().lock);
  registry().withdrawn = true;
  for (PipeWireMicrophone* microphone : registry().live) {
    microphone->withdraw();
  }
}

}  // namespace korvex::audio
