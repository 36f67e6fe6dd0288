#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korvex::server {

// Turns an Audio message's s16 little-endian samples (or a piece of them, an
// even number of bytes) into float samples in
// `scratch`: s / 32768 times `gain`, clamped to [-1, 1]; zeros for a silence
// message. `scratch` is reused from message to message and grows only for a
// message longer than any before. Returns the peak absolute sample (0 for
// silence).
float convert_audio(std::span<const uint8_t> pcm, bool silent, float gain,
                    std::vector<float>& scratch);

}  // namespace korvex::server
