#include "audio/render_state.hpp"

#include <algorithm>
#include <cmath>

namespace korvex::audio {

int16_t to_i16(float value) {
  const float v = value * 32768.0f;
  if (std::isnan(v)) {
    return 0;
  }
  return static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
}

RenderState::RenderState(std::shared_ptr<jitter::JitterBuffer> jitter, uint32_t sample_rate,
                         uint16_t channels)
    : jitter_(std::move(jitter)),
      nominal_step_(48000.0 / static_cast<double>(sample_rate)),
      step_(nominal_step_),
      steering_(jitter_->target()),
      channels_(std::max<size_t>(channels, 1)) {}

float RenderState::next_input() {
  if (chunk_position_ >= kChunk) {
    step_ = nominal_step_ * steering_.observe(jitter_->pop(chunk_));
    chunk_position_ = 0;
  }
  return chunk_[chunk_position_++];
}

std::span<const float> RenderState::resample(size_t samples) {
  const size_t frames = samples / channels_;
  if (mono_.size() < frames) {
    mono_.resize(frames, 0.0f);
  }
  for (size_t i = 0; i < frames; ++i) {
    if (!primed_) {
      a_ = next_input();
      b_ = next_input();
      primed_ = true;
      phase_ = 0.0;
    }
    mono_[i] = static_cast<float>(phase_) * (b_ - a_) + a_;
    phase_ += step_;
    while (phase_ >= 1.0) {
      a_ = b_;
      b_ = next_input();
      phase_ -= 1.0;
    }
  }
  return std::span<const float>(mono_).first(frames);
}

template <class T, class Convert>
void RenderState::fan_out(std::span<T> out, Convert convert) {
  T* sample = out.data();
  for (const float value : resample(out.size())) {
    const T converted = convert(value);
    for (size_t channel = 0; channel < channels_; ++channel) {
      *sample++ = converted;
    }
  }
}

void RenderState::render(std::span<float> out) {
  fan_out(out, [](float v) { return v; });
}

void RenderState::render(std::span<int16_t> out) {
  fan_out(out, to_i16);
}

}  // namespace korvex::audio
