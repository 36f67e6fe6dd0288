#pragma once

#include <cstdint>

namespace korvex::decoder {

// Media Foundation's sample time (signed, 100-ns units) for a presentation
// time in microseconds. A pts past what that can hold, which only a broken
// or hostile sender gives, becomes the latest time it can hold instead of
// wrapping around into an earlier or negative one.
int64_t sample_time_100ns(uint64_t pts_us);

}  // namespace korvex::decoder
