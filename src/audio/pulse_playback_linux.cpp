#include "audio/pulse_playback_linux.hpp"

#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "audio/render_thread.hpp"
#include "platform/thread.hpp"

namespace korvex::audio {
namespace {

constexpr const char* kClientName = "korvex-receiver";
// Audio the server holds for us: enough to ride out the receiver going
// unscheduled for as long as the default 40 ms prefill covers on the phone's
// side (at 30 ms the server got 25 ms, and a 36 ms stall under load left a
// hole), small enough to keep the microphone's delay low.
constexpr pa_usec_t kTargetLatencyUs = 50'000;
// The server asks for audio every 10 ms, and each callback renders at most
// that much: the jitter buffer is drained in small steps, as WASAPI's period
// does on Windows, rather than in bursts that would eat its prefill.
constexpr pa_usec_t kRequestUs = 10'000;
constexpr uint32_t kBlocksPerSecond = 100;
// The render thread wakes at least this often to notice a stop request.
constexpr int kWakeUs = 100'000;

// A main loop, its connection and the stream, used by one thread at a time:
// the main thread while connecting, then the render thread alone.
class Playback {
 public:
  Playback() = default;
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  ~Playback() {
    if (stream_ != nullptr) {
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_ != nullptr) {
      pa_mainloop_free(loop_);
    }
  }

  Result<void> connect(const std::string& sink, const pa_sample_spec& spec) {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr) {
      return fail("pa_mainloop_new failed");
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), kClientName);
    if (context_ == nullptr) {
      return fail("pa_context_new failed");
    }
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      return fail(error_text("connect to PulseAudio"));
    }
    while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || !iterate(-1)) {
        return fail(error_text("connect to PulseAudio"));
      }
    }
    stream_ = pa_stream_new(context_, "phone microphone", &spec, nullptr);
    if (stream_ == nullptr) {
      return fail(error_text("pa_stream_new"));
    }
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kRequestUs, &spec));
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, sink.c_str(), &attr, flags, nullptr, nullptr) < 0) {
      return fail(error_text("pa_stream_connect_playback"));
    }
    while (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) || !iterate(-1)) {
        return fail(error_text("pa_stream_connect_playback"));
      }
    }
    frame_bytes_ = pa_frame_size(&spec);
    block_.resize(std::max<size_t>(spec.rate / kBlocksPerSecond, 1) * frame_bytes_);
    return {};
  }

  // Fills whatever room the server has, 10 ms at a time, and waits for more;
  // ends on the first failure, which goes to the error callback.
  void render(const std::atomic<bool>& stop, const DataCallback& on_data,
              const ErrorCallback& on_error) {
    while (!stop) {
      if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        on_error(error_text("playback stream"));
        return;
      }
      size_t room = pa_stream_writable_size(stream_);
      if (room == static_cast<size_t>(-1)) {
        on_error(error_text("pa_stream_writable_size"));
        return;
      }
      room -= room % frame_bytes_;
      if (room == 0) {
        if (!iterate(kWakeUs)) {
          on_error(error_text("pa_mainloop_iterate"));
          return;
        }
        continue;
      }
      const std::span<std::byte> block =
          std::span<std::byte>(block_).first(std::min(room, block_.size()));
      on_data(block);
      if (pa_stream_write(stream_, block.data(), block.size(), nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        on_error(error_text("pa_stream_write"));
        return;
      }
    }
  }

 private:
  // Runs the loop once, waiting at most `timeout_us` (-1: until something
  // happens). False when the loop failed.
  bool iterate(int timeout_us) {
    return pa_mainloop_prepare(loop_, timeout_us) >= 0 && pa_mainloop_poll(loop_) >= 0 &&
           pa_mainloop_dispatch(loop_) >= 0;
  }

  std::string error_text(const char* step) const {
    return fmt::format("{}: {}", step, pa_strerror(pa_context_errno(context_)));
  }

  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::vector<std::byte> block_;  // one block at most, filled by the data callback
  size_t frame_bytes_ = 1;
};

class PulseStream final : public OutputStream {
 public:
  PulseStream(std::unique_ptr<Playback> playback, DataCallback on_data, ErrorCallback on_error)
      : render_(std::make_shared<Render>(
            Render{std::move(playback), std::move(on_data), std::move(on_error)})) {}

  Result<void> play() override {
    auto started = thread_.start("audio-render", [render = render_](const std::atomic<bool>& stop) {
      platform::prioritise_current_thread();
      render->playback->render(stop, render->on_data, render->on_error);
    });
    if (!started) {
      return fail(fmt::format("spawn audio-render thread: {}", started.error()));
    }
    return {};
  }

 private:
  // Everything the render thread uses; it holds its own reference.
  struct Render {
    std::unique_ptr<Playback> playback;
    DataCallback on_data;
    ErrorCallback on_error;
  };
  std::shared_ptr<Render> render_;
  RenderThread thread_;  // last: stops the thread before anything else goes
};

}  // namespace

Result<std::unique_ptr<OutputStream>> open_pulse_playback(const std::string& sink,
                                                          const StreamConfig& config,
                                                          DataCallback on_data,
                                                          ErrorCallback on_error) {
  // Every sink is offered float only; the server converts.
  if (config.format != SampleFormat::F32) {
    return fail(
        fmt::format("PulseAudio streams here play F32, not {}", sample_format_name(config.format)));
  }
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, config.sample_rate,
                            static_cast<uint8_t>(config.channels)};
  if (config.channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&spec)) {
    return fail(fmt::format("PulseAudio cannot play {} Hz with {} channels", config.sample_rate,
                            config.channels));
  }
  auto playback = std::make_unique<Playback>();
  if (auto connected = playback->connect(sink, spec); !connected) {
    return fail(connected.error());
  }
  return std::unique_ptr<OutputStream>(
      std::make_unique<PulseStream>(std::move(playback), std::move(on_data), std::move(on_error)));
}

}  // namespace korvex::audio
