#include "audio/endpoint_fill.hpp"

#include <algorithm>

namespace korvex::audio {

EndpointFill::EndpointFill(uint32_t sample_rate, uint32_t buffer_frames)
    : target_(std::min(static_cast<uint32_t>(uint64_t{sample_rate} * kQueuedMs / 1000),
                       buffer_frames)) {}

}  // namespace korvex::audio
