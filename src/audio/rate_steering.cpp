#include "audio/rate_steering.hpp"

#include <algorithm>

namespace korvex::audio {

RateSteering::RateSteering(uint64_t target) : target_(static_cast<double>(target)) {}

double RateSteering::observe(const jitter::Fill& fill) {
  if (!fill.playing) {
    // Nothing is consumed while the buffer fills; playback starts over from
    // its prefill, so the average does too.
    tracking_ = false;
    return 1.0;
  }
  const auto queued = static_cast<double>(fill.queued);
  level_ = tracking_ ? level_ + (queued - level_) * kSmoothing : queued;
  tracking_ = true;
  const double excess = level_ - target_;
  const double beyond = excess > kBand ? excess - kBand : excess < -kBand ? excess + kBand : 0.0;
  const double correction = beyond * kCorrectionPerSample;
  return 1.0 + std::clamp(correction, -kMaxCorrection, kMaxCorrection);
}

}  // namespace korvex::audio
