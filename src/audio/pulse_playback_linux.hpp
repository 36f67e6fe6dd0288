#pragma once

// A PulseAudio playback stream into one sink, rendered by a thread of its own.

#include <string>

#include "audio/audio_host.hpp"

namespace korvex::audio {

// Connects a stream of `config` to the sink named `sink` (its internal name).
// The stream stays on that sink: when the sink goes away, the stream fails
// and the error callback says so, instead of playing on elsewhere.
Result<std::unique_ptr<OutputStream>> open_pulse_playback(const std::string& sink,
                                                          const StreamConfig& config,
                                                          DataCallback on_data,
                                                          ErrorCallback on_error);

}  // namespace korvex::audio
