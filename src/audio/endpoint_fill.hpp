#pragma once

// How much audio the render thread keeps queued in a shared-mode endpoint.
// The stream asks for a buffer of kBufferMs and keeps at most kQueuedMs of it
// filled: an endpoint whose engine is served late (Wine's PulseAudio driver
// advances the endpoint's clock from a timer thread that falls tens of
// milliseconds behind the sound server under load) still has audio to hand on
// when the server asks, while the delay the endpoint adds stays bounded by the
// target rather than by whatever buffer the engine grants.

#include <cstdint>

namespace korvex::audio {

class EndpointFill {
 public:
  static constexpr uint32_t kBufferMs = 100;
  static constexpr uint32_t kQueuedMs = 60;

  // `buffer_frames` is the buffer the engine granted, at `sample_rate`.
  EndpointFill(uint32_t sample_rate, uint32_t buffer_frames);

  // Frames to write now, with `padding` frames still queued in the endpoint.
  uint32_t room(uint32_t padding) const { return padding < target_ ? target_ - padding : 0; }

  uint32_t target() const { return target_; }

 private:
  uint32_t target_;
};

}  // namespace korvex::audio
