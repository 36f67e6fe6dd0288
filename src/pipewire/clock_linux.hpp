#pragma once

// The clock of every PipeWire time stamp: the graph's cycle times, buffer
// stamps and the drivers' timers all count on CLOCK_MONOTONIC.

#include <time.h>

#include <cstdint>

namespace korvex::pipewire {

inline uint64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace korvex::pipewire
