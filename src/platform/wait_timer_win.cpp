#include "platform/wait_timer_win.hpp"

#include <windows.h>
// windows.h must come first.
#include <timeapi.h>

#include <utility>

#include "platform/os_error.hpp"

namespace korvex::platform {
namespace {

// Not in MinGW's headers (Windows 10 1803 and later).
constexpr DWORD kHighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

}  // namespace

Result<WaitTimer> WaitTimer::create(bool high_resolution) {
  if (high_resolution) {
    UniqueHandle timer(
        CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS));
    if (timer) {
      return WaitTimer(std::move(timer), true);
    }
  }
  UniqueHandle timer(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
  if (!timer) {
    return fail("CreateWaitableTimerExW: " + last_os_error_text());
  }
  WaitTimer made(std::move(timer), false);
  made.period_raised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
  return made;
}

WaitTimer::WaitTimer(WaitTimer&& other) noexcept
    : timer_(std::move(other.timer_)),
      high_resolution_(other.high_resolution_),
      period_raised_(std::exchange(other.period_raised_, false)) {}

WaitTimer::~WaitTimer() {
  if (period_raised_) {
    timeEndPeriod(1);
  }
}

bool WaitTimer::wait_until(Clock::time_point due, UniqueHandle::Native wake) {
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(due - Clock::now());
  if (left.count() > 0) {
    LARGE_INTEGER relative;
    relative.QuadPart = -static_cast<LONGLONG>((left.count() + 99) / 100);  // 100-ns units
    if (!SetWaitableTimer(timer_.get(), &relative, 0, nullptr, nullptr, FALSE)) {
      return WaitForSingleObject(wake, 0) == WAIT_OBJECT_0;
    }
    const HANDLE handles[2] = {wake, timer_.get()};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0;
  }
  return WaitForSingleObject(wake, 0) == WAIT_OBJECT_0;
}

}  // namespace korvex::platform
