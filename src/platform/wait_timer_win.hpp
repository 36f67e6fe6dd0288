#pragma once

// Waiting until a moment with better than the scheduler's default 15.6 ms
// granularity: a high-resolution waitable timer (Windows 10 1803 and later),
// or on older systems a plain waitable timer with the system timer raised to
// 1 ms (timeBeginPeriod) for as long as this object lives.

#include <chrono>

#include "common/result.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::platform {

class WaitTimer {
 public:
  using Clock = std::chrono::steady_clock;

  // `high_resolution` false skips the high-resolution timer, as on a system
  // without one. Errors read "CreateWaitableTimerExW: {cause}".
  static Result<WaitTimer> create(bool high_resolution = true);

  WaitTimer(WaitTimer&& other) noexcept;
  WaitTimer& operator=(WaitTimer&&) = delete;
  WaitTimer(const WaitTimer&) = delete;
  WaitTimer& operator=(const WaitTimer&) = delete;
  ~WaitTimer();

  // Waits until `due` or until `wake` (an event handle) is signalled. True
  // when woken, false when the moment came (or the timer failed: the caller
  // then goes on at once rather than stall).
  bool wait_until(Clock::time_point due, UniqueHandle::Native wake);

  bool high_resolution() const { return high_resolution_; }

 private:
  WaitTimer(UniqueHandle timer, bool high_resolution)
      : timer_(std::move(timer)), high_resolution_(high_resolution) {}

  UniqueHandle timer_;
  bool high_resolution_ = false;
  bool period_raised_ = false;  // timeBeginPeriod(1) to undo
};

}  // namespace korvex::platform
