#pragma once

// The receiver's audio output: the phone's microphone, from the jitter
// buffer, played into the endpoint --device names.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "audio/audio_host.hpp"
#include "common/result.hpp"
#include "jitter/jitter_buffer.hpp"

namespace korvex::audio {

// Held by the main thread for the whole run; releasing it stops playback.
struct AudioOutput {
  std::unique_ptr<OutputStream> stream;
  std::string endpoint_name;
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
};

// The first F32 range that includes 48 kHz, else the first range of another
// format that does (both at 48000 Hz), else the endpoint's default
// configuration.
Result<StreamConfig> choose_stream_config(const OutputEndpoint& endpoint);

// Finds the endpoint, builds a stream whose render callback pulls from
// `jitter`, and starts it.
Result<AudioOutput> open_audio_output(AudioHost& host, std::string_view device,
                                      std::shared_ptr<jitter::JitterBuffer> jitter);

// The same on the system's audio host.
Result<AudioOutput> open_audio_output(std::string_view device,
                                      std::shared_ptr<jitter::JitterBuffer> jitter);

}  // namespace korvex::audio
