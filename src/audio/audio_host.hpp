#pragma once

// The audio output layer: what the receiver needs from the system's sound
// service, and nothing more. Windows implements it over WASAPI
// (audio_host_win.cpp), Linux over PulseAudio (audio_host_linux.cpp); the
// unit tests use a fake.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/sample_format.hpp"
#include "common/result.hpp"

namespace korvex::audio {

// One shape of stream the endpoint accepts, at any rate in [min_rate, max_rate].
struct ConfigRange {
  SampleFormat format;
  uint16_t channels;
  uint32_t min_rate;
  uint32_t max_rate;
};

struct StreamConfig {
  SampleFormat format;
  uint16_t channels;
  uint32_t sample_rate;
};

// Called on the layer's render thread with the buffer to fill: interleaved
// samples of the stream's format, always whole frames.
using DataCallback = std::function<void(std::span<std::byte> buffer)>;
// Called on the render thread when the stream fails; the render thread ends
// after it.
using ErrorCallback = std::function<void(const std::string& error)>;

// A built output stream. Destroying it stops the render thread and waits for
// it to finish.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Starts the render thread's callbacks.
  virtual Result<void> play() = 0;
};

class OutputEndpoint {
 public:
  virtual ~OutputEndpoint() = default;
  // The endpoint's friendly name; can fail for one endpoint alone.
  virtual Result<std::string> name() const = 0;
  virtual Result<std::vector<ConfigRange>> supported_configs() const = 0;
  virtual Result<StreamConfig> default_config() const = 0;
  // A shared-mode stream into this endpoint, not yet playing.
  virtual Result<std::unique_ptr<OutputStream>> build_stream(const StreamConfig& config,
                                                             DataCallback on_data,
                                                             ErrorCallback on_error) = 0;
};

class AudioHost {
 public:
  virtual ~AudioHost() = default;
  // "WASAPI" or "PulseAudio", for the endpoint listing.
  virtual std::string_view name() const = 0;
  // The system's default output endpoint; null when there is none.
  virtual std::shared_ptr<OutputEndpoint> default_output() = 0;
  // Every active output endpoint, in the system's order.
  virtual Result<std::vector<std::shared_ptr<OutputEndpoint>>> outputs() = 0;
};

// The system's audio host. Connecting to the sound service happens here;
// failing to connect shows as errors of the operations above.
std::unique_ptr<AudioHost> make_audio_host();

}  // namespace korvex::audio
