#include "server/audio_conversion.hpp"

#include <algorithm>
#include <cmath>

namespace korvex::server {

float convert_audio(std::span<const int16_t> samples, bool silent, float gain,
                    std::vector<float>& scratch) {
  const size_t n = samples.size();
  // resize never gives capacity back, so this allocates only past the
  // largest message so far.
  scratch.resize(n);
  if (silent) {
    std::fill(scratch.begin(), scratch.end(), 0.0f);
    return 0.0f;
  }
  constexpr float scale = 1.0f / 32768.0f;
  float peak = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    const float x = std::clamp(static_cast<float>(samples[i]) * scale * gain, -1.0f, 1.0f);
    scratch[i] = x;
    peak = std::max(peak, std::fabs(x));
  }
  return peak;
}

}  // namespace korvex::server
