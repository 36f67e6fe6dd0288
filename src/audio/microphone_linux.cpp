// The microphone on PipeWire: an output stream exported as an audio source
// node that desktop sound settings, browsers and call programs list as an
// input. Nothing downstream of a source fed by a program keeps time, so the
// node is its own driver: a timer on the stream's data loop (real-time where
// the system allows) starts one graph cycle per quantum of the server while
// someone records, and the server pauses the node (and with it the timer)
// when nobody does.

#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include <fmt/format.h>

#include "audio/microphone.hpp"
#include "pipewire/clock_linux.hpp"
#include "pipewire/connection_linux.hpp"

namespace korvex::audio {
namespace {

constexpr const char* kNodeName = "korvex-microphone";
// A source with output ports, as the session manager configures it. Not
// "Audio/Source/Virtual": WirePlumber takes that for the capture side of a
// virtual sink and gives the node input ports, which a source cannot start.
constexpr const char* kMediaClass = "Audio/Source";
// The node shows one port per channel in the graph's own format, as sound
// cards do, from the start: recorders can be linked to it before (or
// without) a session manager configuring it.
constexpr const char* kPortConfig = "{ mode = dsp monitor = false control = false }";
// The node's channel from the start: without it the node has no channel
// volume until a recorder starts it, and sound settings show it at 0 %.
constexpr const char* kPosition = "[ MONO ]";
// The node keeps the graph's quantum while it runs: when another recorder
// joined asking for a shorter one, the first lost or missed a cycle of the
// phone's audio (PipeWire 0.3.65 and 1.4). A quantum the user forces still
// applies, at the cost of a little audio once.
constexpr const char* kLockQuantum = "true";
// The cycle until the server has said its own: PipeWire's default quantum.
constexpr uint64_t kDefaultQuantum = 1024;
// Cycles a late driver makes up for at once; more are let go.
constexpr uint64_t kMaxCatchUp = 4;
// How long play() waits for the node, and withdraw() for its removal.
constexpr int64_t kServerWaitNs = 5'000'000'000;

std::string pipewire_error(const char* step, int res) {
  return fmt::format("{}: {}", step, spa_strerror(res));
}

// The length of the cycle the server asks of its driver.
struct Cycle {
  uint64_t duration;  // frames
  spa_fraction rate;  // seconds per frame
};

// How the server changes that length. From 0.3.68 on it asks through the
// clock's targets, which the driver applies at its next tick, before it makes
// that cycle's audio. Before, the server wrote the new length itself just
// after the driver had made a cycle's audio for the old one.
#if PW_CHECK_VERSION(0, 3, 68)
Cycle server_cycle(spa_io_clock& clock) {
  return {std::atomic_ref(clock.target_duration).load(), clock.target_rate};
}
#else
Cycle server_cycle(spa_io_clock& clock) {
  return {std::atomic_ref(clock.duration).load(), clock.rate};
}
#endif

Cycle requested_cycle(spa_io_position* position) {
  if (position != nullptr) {
    // The server writes these from its own process.
    const Cycle cycle = server_cycle(position->clock);
    if (cycle.duration != 0 && cycle.rate.num != 0 && cycle.rate.denom != 0) {
      return cycle;
    }
  }
  return {kDefaultQuantum, {1, kMicrophoneConfig.sample_rate}};
}

uint64_t cycle_ns(const Cycle& cycle) {
  return cycle.duration * SPA_NSEC_PER_SEC * cycle.rate.num / cycle.rate.denom;
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
    if (connection_ == nullptr) {
      return;
    }
    {
      pipewire::Connection::Lock lock(*connection_);
      // The ticks go before the stream they trigger.
      if (tick_ != nullptr) {
        in_data_loop([this] { pw_loop_destroy_source(data_loop_, tick_); });
      }
      if (stream_ != nullptr) {
        spa_hook_remove(&stream_listener_);
        pw_stream_destroy(stream_);
      }
    }
    connection_.reset();  // before the fields its loop thread uses
  }

  // Connects to the server and makes the stream, not yet exported.
  Result<void> setup() {
    auto connection = pipewire::Connection::start();
    if (!connection) {
      return fail(connection.error());
    }
    connection_ = std::move(connection.value());
    data_loop_ = connection_->data_loop();
    if (auto connected = connection_->connect({
            .done = [this](int seq) { on_core_done(seq); },
            .error = [this](std::string text) { fail_with("PipeWire: " + text); },
        });
        !connected) {
      return connected;
    }

    pipewire::Connection::Lock lock(*connection_);
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CLASS, kMediaClass, PW_KEY_NODE_NAME, kNodeName,
        PW_KEY_NODE_DESCRIPTION, std::string(kMicrophoneName).c_str(), PW_KEY_NODE_VIRTUAL, "true",
        PW_KEY_NODE_LOCK_QUANTUM, kLockQuantum, SPA_KEY_AUDIO_POSITION, kPosition,
        "adapter.auto-port-config", kPortConfig, nullptr);
    stream_ = pw_stream_new(connection_->core(), "phone microphone", props);
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

    pipewire::Connection::Lock lock(*connection_);
    if (int res = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
        res < 0) {
      return fail(pipewire_error("pw_stream_connect", res));
    }
    if (!connection_->wait([this] { return exported_ || !failure_.empty(); }, kServerWaitNs)) {
      return fail("PipeWire: the server did not create the microphone in time");
    }
    if (!failure_.empty()) {
      return fail(failure_);
    }
    // From here on failures go to the error callback.
    reporting_ = true;
    return {};
  }

  // Removes the node and waits until the server has done so.
  void withdraw() {
    pipewire::Connection::Lock lock(*connection_);
    if (exported_ && failure_.empty()) {
      withdrawing_ = true;
      drive(false);
      pw_stream_disconnect(stream_);
      synced_ = false;
      sync_seq_ = pw_core_sync(connection_->core(), PW_ID_CORE, 0);
      connection_->wait([this] { return synced_ || !failure_.empty(); }, kServerWaitNs);
    }
  }

 private:
  // Loop thread: the first failure ends the microphone. Before play() has
  // returned it is play()'s result; after, the error callback's.
  void fail_with(std::string error) {
    drive(false);
    if (!failure_.empty()) {
      return;
    }
    failure_ = std::move(error);
    connection_->signal();
    if (reporting_ && !withdrawing_) {
      on_error_(failure_);
    }
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
    next_tick_ns_ = pipewire::monotonic_ns();
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

  // One graph cycle per tick, each as long as the server asks at the time,
  // so a change of the graph's quantum applies at the next cycle. Each tick
  // is due one cycle after the one before it, not after it ran, and the
  // cycle is stamped with that time, as the server's own drivers do: cycles
  // a busy machine delayed are made up for at once, so the graph keeps real
  // time and the phone's audio is not trimmed for piling up. After a longer
  // stall it starts over from now.
  static void on_tick(void* data, uint64_t) {
    auto* self = static_cast<PipeWireMicrophone*>(data);
    if (!self->ticking_) {
      return;
    }
    spa_io_position* position = self->position_.load();
    const Cycle cycle = requested_cycle(position);
    const uint64_t start = self->next_tick_ns_;
    self->next_tick_ns_ += cycle_ns(cycle);
    if (position != nullptr) {
      spa_io_clock& clock = position->clock;
      clock.nsec = start;
      clock.position += clock.duration;
      clock.rate = cycle.rate;
      clock.duration = cycle.duration;
      clock.delay = 0;
      clock.rate_diff = 1.0;
      clock.next_nsec = self->next_tick_ns_;
    }
    pw_stream_trigger_process(self->stream_);
    const uint64_t now = pipewire::monotonic_ns();
    if (self->next_tick_ns_ + kMaxCatchUp * cycle_ns(cycle) < now) {
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
        self->connection_->signal();
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
    pw_stream_queue_buffer(self->stream_, buffer);
  }

  void on_core_done(int seq) {
    if (seq == sync_seq_) {
      synced_ = true;
      connection_->signal();
    }
  }

  DataCallback on_data_;    // data thread
  ErrorCallback on_error_;  // loop thread
  std::unique_ptr<pipewire::Connection> connection_;
  pw_stream* stream_ = nullptr;
  spa_hook stream_listener_{};
  pw_loop* data_loop_ = nullptr;  // the connection's, where the stream renders
  spa_source* tick_ = nullptr;    // on the data loop
  std::atomic<spa_io_position*> position_{nullptr};
  // Guarded by the loop's lock.
  bool exported_ = false;     // the server created the node
  bool reporting_ = false;    // play() has returned success
  bool withdrawing_ = false;  // the node is being removed on purpose
  bool synced_ = false;
  int sync_seq_ = -1;
  std::string failure_;  // the first failure; empty while all is well
  // Data thread.
  bool ticking_ = false;       // the node drives a running graph
  uint64_t next_tick_ns_ = 0;  // when the next cycle is due, on the monotonic clock
};

class PipeWireMicrophoneHost final : public MicrophoneHost {
 public:
  std::string_view server_name() const override { return "PipeWire"; }

  bool server_running() override {
    auto connection = pipewire::Connection::start();
    return connection &&
           connection.value()->connect({.done = [](int) {}, .error = [](std::string) {}});
  }

  Result<std::unique_ptr<OutputStream>> create(DataCallback on_data,
                                               ErrorCallback on_error) override {
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
