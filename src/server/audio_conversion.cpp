#include "server/audio_conversion.hpp"

#include <algorithm>
#include <cmath>

namespace korvex::server {

float convert_audio(std::span<const uint8_t> pcm, bool silent, float gain,
                    std::vector<float>& scratch) {
  const size_t n = pcm.size() / 2;
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
    const auto sample = static_cast<int16_t>(static_cast<uint16_t>(pcm[2 * i]) |
                                             static_cast<uint16_t>(pcm[2 * i + 1]) << 8);
    const float x = std::clamp(static_cast<float>(sample) * scale * gain, -1.0f, 1.0f);
    scratch[i] = x;
    peak = std::max(peak, std::fabs(x));
  }
  return peak;
}

}  // namespace korvex::server
