#pragma once

// The render callback's state: pulls 10 ms blocks from the jitter buffer,
// resamples them linearly from 48 kHz to the stream's rate, steered so that
// the buffer neither drains nor overfills when the phone's clock drifts, and
// writes each value into every channel of its frame. Only the render thread
// touches it.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "audio/rate_steering.hpp"
#include "jitter/jitter_buffer.hpp"

namespace korvex::audio {

// One mono value as a sample of the stream's format.
int16_t to_i16(float value);

class RenderState {
 public:
  RenderState(std::shared_ptr<jitter::JitterBuffer> jitter, uint32_t sample_rate,
              uint16_t channels);

  // Fill the whole interleaved buffer. Allocates only when a buffer holds
  // more frames than any before it.
  void render(std::span<float> out);
  void render(std::span<int16_t> out);

  // Input samples per output frame, as last steered.
  double step() const { return step_; }

 private:
  static constexpr size_t kChunk = 480;  // 10 ms at 48 kHz

  // Computes one resampled value per whole frame of a buffer of `samples`
  // samples into mono_ and returns them.
  std::span<const float> resample(size_t samples);
  float next_input();

  template <class T, class Convert>
  void fan_out(std::span<T> out, Convert convert);

  std::vector<float> mono_;
  std::array<float, kChunk> chunk_{};
  std::shared_ptr<jitter::JitterBuffer> jitter_;
  size_t chunk_position_ = kChunk;  // a fresh block is popped on the first read
  const double nominal_step_;       // 48 kHz over the stream's rate
  double step_;                     // the nominal step, steered by the fill level
  RateSteering steering_;
  double phase_ = 0.0;
  float a_ = 0.0f;  // the earlier of the two input samples interpolated between
  float b_ = 0.0f;  // the later one
  bool primed_ = false;
  size_t channels_;
};

}  // namespace korvex::audio
