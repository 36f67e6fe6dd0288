#pragma once

// What the receiver's audio plays into. Where the system can host a
// microphone of the receiver's own, that microphone, unless --device names an
// endpoint; everywhere else, and when the microphone's server is not running,
// the endpoint --device names ("CABLE Input" unless given).

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "audio/audio_output.hpp"
#include "audio/microphone.hpp"
#include "common/result.hpp"
#include "jitter/jitter_buffer.hpp"

namespace korvex::audio {

struct AudioChoice {
  bool microphone = false;
  // The microphone was the choice but its server does not answer: the
  // receiver says so and plays into the endpoint instead.
  bool no_server = false;
};

// `device_given`: --device was on the command line. `mics` is null where the
// system cannot host a microphone.
AudioChoice choose_audio_output(bool device_given, MicrophoneHost* mics);

// The microphone, playing from `jitter`; made again every `retry` after it
// fails (its server went away) until it plays.
Result<AudioOutput> open_microphone_output(std::shared_ptr<MicrophoneHost> mics,
                                           std::shared_ptr<jitter::JitterBuffer> jitter,
                                           std::chrono::milliseconds retry);

// The receiver's audio output for the --device value: the choice above on
// the system's hosts. Says on standard error when the microphone's server is
// missing.
Result<AudioOutput> open_receiver_audio(std::string_view device, bool device_given,
                                        std::shared_ptr<jitter::JitterBuffer> jitter);

}  // namespace korvex::audio
