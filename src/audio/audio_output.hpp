#pragma once

// The receiver's audio output: the phone's microphone, from the jitter
// buffer, played into the endpoint --device names, and played into it again
// when it comes back after being lost.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "audio/audio_host.hpp"
#include "audio/kept_output.hpp"
#include "common/result.hpp"
#include "jitter/jitter_buffer.hpp"

namespace korvex::audio {

// A fresh connection to the system's sound service for every attempt: one
// that was lost with its server stays lost.
using HostFactory = std::function<std::unique_ptr<AudioHost>()>;

// How long a lost endpoint waits between attempts to reopen it.
inline constexpr std::chrono::milliseconds kReopenInterval{2000};

// The first F32 range that includes 48 kHz, else the first range of another
// format that does (both at 48000 Hz), else the endpoint's default
// configuration.
Result<StreamConfig> choose_stream_config(const OutputEndpoint& endpoint);

// Finds the endpoint, builds a stream whose render callback pulls from
// `jitter`, and starts it. When the stream fails, the endpoint of that same
// name is opened again every `retry` until it plays.
Result<AudioOutput> open_audio_output(HostFactory hosts, std::string_view device,
                                      std::shared_ptr<jitter::JitterBuffer> jitter,
                                      std::chrono::milliseconds retry);

// The same on the system's audio host, retrying every kReopenInterval.
Result<AudioOutput> open_audio_output(std::string_view device,
                                      std::shared_ptr<jitter::JitterBuffer> jitter);

}  // namespace korvex::audio
