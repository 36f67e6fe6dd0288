#pragma once

// When the next picture may go out. Pictures leave on a fixed grid of frame
// periods that starts with the first one, each on its own slot: the first
// slot at or after the moment asked about and after the slot used last. A
// consumer that asks faster than the frame rate is held to it; one that falls
// behind gets its next picture on the coming slot, never a burst to catch up.

#include <chrono>
#include <cstdint>

namespace korvex::picture {

class FramePacer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit FramePacer(Clock::duration period) : period_(period) {}

  // Takes the slot for the next picture, asked at `now`, and says when it is.
  Clock::time_point take_slot(Clock::time_point now) {
    if (!started_) {
      started_ = true;
      origin_ = now;
      last_slot_ = 0;
      return now;
    }
    const Clock::duration elapsed = now - origin_;
    int64_t slot = (elapsed + period_ - Clock::duration(1)) / period_;  // rounded up
    if (slot <= last_slot_) {
      slot = last_slot_ + 1;
    }
    last_slot_ = slot;
    return origin_ + slot * period_;
  }

 private:
  const Clock::duration period_;
  // Not an optional: GCC's -O3 then takes its value for uninitialised.
  bool started_ = false;
  Clock::time_point origin_{};
  int64_t last_slot_ = 0;
};

}  // namespace korvex::picture
