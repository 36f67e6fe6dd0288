#pragma once

// Pictures encoded before connecting, for timing the receiver without the
// encoder: each picture's stamp is the time it is scheduled to leave, and
// once connected each goes at exactly that time, so a reader's latency from
// the stamp is the network, the receiver and the reader alone.

#include <cstdint>
#include <vector>

#include "common/result.hpp"
#include "options.hpp"

namespace korvex::phone_sim {

struct PreEncoded {
  std::vector<std::vector<uint8_t>> messages;  // Video messages, picture i at index i
  uint32_t keyframes = 0;
  uint64_t start_wall_us = 0;  // picture i is due at start + i / fps, wall clock
  double encode_seconds = 0;
};

// Encodes `options.duration_s` seconds of pictures. The schedule starts far
// enough ahead for the encoding (estimated from the first pictures) and for
// connecting; fails when the encoding ran past it all the same.
Result<PreEncoded> pre_encode(const Options& options);

}  // namespace korvex::phone_sim
