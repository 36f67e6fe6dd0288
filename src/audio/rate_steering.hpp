#pragma once

// Keeps the jitter buffer around its target fill when the phone's clock and
// the endpoint's clock differ (by some tens of ppm, often more): left alone,
// 100 ppm drains or overfills a 40 ms buffer within minutes. The resampler's
// step is scaled by a factor that grows in proportion to how far the buffer's
// smoothed fill strays beyond a band around its target, bounded so that the
// pitch moves by less than a cent. Inside the band the factor is exactly 1, so
// clocks that agree leave 48 kHz audio untouched. Only the render thread uses
// it.

#include <cstdint>

#include "jitter/jitter_buffer.hpp"

namespace korvex::audio {

class RateSteering {
 public:
  // Half a 10 ms block either side of the target: pushes and pops of whole
  // blocks move the fill by that much without any drift.
  static constexpr double kBand = 240.0;
  // 100 ppm faster per millisecond beyond the band: the fill settles within
  // tens of seconds, 2 ms beyond the band for each 200 ppm the clocks differ.
  static constexpr double kCorrectionPerSample = 100e-6 / 48.0;
  static constexpr double kMaxCorrection = 500e-6;
  // The fill is averaged over about a second of blocks, so that the push and
  // pop rhythm and bursts of the network or the output do not steer.
  static constexpr double kSmoothing = 1.0 / 100.0;

  explicit RateSteering(uint64_t target);

  // Takes what one pop found; returns the factor for the resampler's step
  // (input samples per output frame): above 1 drains the buffer faster.
  double observe(const jitter::Fill& fill);

 private:
  const double target_;
  double level_ = 0.0;     // smoothed fill while playing, in samples
  bool tracking_ = false;  // level_ holds a reading of the current playback
};

}  // namespace korvex::audio
