#include "audio/audio_output.hpp"

#include <optional>

#include <fmt/format.h>

#include "audio/find_output_device.hpp"
#include "audio/render_state.hpp"

namespace korvex::audio {
namespace {

constexpr uint32_t kPreferredRate = 48000;

// The buffer the layer hands over, seen as samples of the stream's format.
template <class T>
std::span<T> samples_of(std::span<std::byte> buffer) {
  return {reinterpret_cast<T*>(buffer.data()), buffer.size() / sizeof(T)};
}

Result<DataCallback> render_callback(SampleFormat format, std::shared_ptr<RenderState> state) {
  switch (format) {
    case SampleFormat::F32:
      return DataCallback(
          [state](std::span<std::byte> buffer) { state->render(samples_of<float>(buffer)); });
    case SampleFormat::I16:
      return DataCallback(
          [state](std::span<std::byte> buffer) { state->render(samples_of<int16_t>(buffer)); });
    default:
      return fail(fmt::format("unsupported sample format: {}", sample_format_name(format)));
  }
}

// Builds a stream into the endpoint that renders from `jitter`, and starts it.
Result<OpenedStream> start_stream(FoundDevice found, std::shared_ptr<jitter::JitterBuffer> jitter,
                                  ErrorCallback on_error) {
  auto config = choose_stream_config(*found.endpoint);
  if (!config) {
    return fail(config.error());
  }
  auto state =
      std::make_shared<RenderState>(std::move(jitter), config->sample_rate, config->channels);
  auto on_data = render_callback(config->format, std::move(state));
  if (!on_data) {
    return fail(on_data.error());
  }
  auto stream =
      found.endpoint->build_stream(config.value(), std::move(on_data.value()), std::move(on_error));
  if (!stream) {
    return fail(fmt::format("could not build output stream: {}", stream.error()));
  }
  if (auto started = stream.value()->play(); !started) {
    return fail(fmt::format("could not start audio: {}", started.error()));
  }
  return OpenedStream{std::move(stream.value()), std::move(found.name), config.value()};
}

}  // namespace

Result<StreamConfig> choose_stream_config(const OutputEndpoint& endpoint) {
  if (auto ranges = endpoint.supported_configs()) {
    std::optional<ConfigRange> f32, other;
    for (const ConfigRange& range : ranges.value()) {
      if (range.min_rate > kPreferredRate || range.max_rate < kPreferredRate) {
        continue;
      }
      if (range.format == SampleFormat::F32) {
        if (!f32) {
          f32 = range;
        }
      } else if (!other) {
        other = range;
      }
    }
    if (const auto& chosen = f32 ? f32 : other) {
      return StreamConfig{chosen->format, chosen->channels, kPreferredRate};
    }
  }
  auto fallback = endpoint.default_config();
  if (!fallback) {
    return fail(fmt::format("no usable output config: {}", fallback.error()));
  }
  return fallback.value();
}

Result<AudioOutput> open_audio_output(HostFactory hosts, std::string_view device,
                                      std::shared_ptr<jitter::JitterBuffer> jitter,
                                      std::chrono::milliseconds retry) {
  auto host = hosts();
  auto found = find_output_device(*host, device);
  if (!found) {
    return fail(found.error());
  }
  const std::string name = found->name;
  // The same endpoint, by the name it had: not whatever --device would match now.
  auto reopen = [hosts = std::move(hosts), name,
                 jitter](ErrorCallback on_error) -> Result<OpenedStream> {
    auto host = hosts();
    auto found = find_output_named(*host, name);
    if (!found) {
      return fail(found.error());
    }
    return start_stream(std::move(found.value()), jitter, std::move(on_error));
  };
  auto open = [&found, &jitter](ErrorCallback on_error) {
    return start_stream(std::move(found.value()), std::move(jitter), std::move(on_error));
  };
  return keep_playing(open, std::move(reopen), retry);
}

Result<AudioOutput> open_audio_output(std::string_view device,
                                      std::shared_ptr<jitter::JitterBuffer> jitter) {
  return open_audio_output(make_audio_host, device, std::move(jitter), kReopenInterval);
}

}  // namespace korvex::audio
