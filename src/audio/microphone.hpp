#pragma once

// The receiver's own microphone: an audio source that other programs record
// from directly, created where the system's sound server can host one
// (PipeWire on Linux). Windows has none; there the phone plays into VB-CABLE.

#include <memory>
#include <string_view>

#include "audio/audio_host.hpp"
#include "common/result.hpp"

namespace korvex::audio {

inline constexpr std::string_view kMicrophoneName = "Korvex Microphone";
// The jitter buffer's own format: nothing is resampled on the way.
inline constexpr StreamConfig kMicrophoneConfig{SampleFormat::F32, 1, 48000};

class MicrophoneHost {
 public:
  virtual ~MicrophoneHost() = default;
  // "PipeWire": the server the microphone lives in, for messages.
  virtual std::string_view server_name() const = 0;
  // Whether the server that would hold the microphone answers.
  virtual bool server_running() = 0;
  // The microphone in kMicrophoneConfig. Once it plays, each cycle of the
  // server asks `on_data` for as many frames as that cycle takes, whatever
  // that is; a failure (the server went away) reaches `on_error`.
  virtual Result<std::unique_ptr<OutputStream>> create(DataCallback on_data,
                                                       ErrorCallback on_error) = 0;
};

// Null where the system cannot host a microphone of the receiver's own.
std::unique_ptr<MicrophoneHost> make_microphone_host();

// Removes the microphone from the system, if there is one, and keeps another
// from being created. Safe from any thread and more than once; called just
// before the process ends.
void withdraw_microphone();

}  // namespace korvex::audio
