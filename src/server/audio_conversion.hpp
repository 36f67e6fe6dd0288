#pragma once

#include <vector>

#include "protocol/wire.hpp"

namespace korvex::server {

// Turns one Audio message into float samples in `scratch`: s / 32768 times
// `gain`, clamped to [-1, 1]; zeros for a silence message. `scratch` is
// reused from message to message and grows only for a message longer than
// any before. Returns the peak absolute sample (0 for silence).
float convert_audio(const protocol::msg::Audio& audio, float gain, std::vector<float>& scratch);

}  // namespace korvex::server
