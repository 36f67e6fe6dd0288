// The pacing timer, both kinds: it never wakes before the moment asked for,
// and an event set beforehand or meanwhile wakes it at once.

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "platform/wait_timer_win.hpp"

namespace korvex::platform {
namespace {

using namespace std::chrono_literals;

class WaitTimerTest : public testing::TestWithParam<bool> {};

TEST_P(WaitTimerTest, WaitsUntilTheMomentOrTheEvent) {
  Result<WaitTimer> timer = WaitTimer::create(GetParam());
  ASSERT_TRUE(timer) << timer.error();
  RecordProperty("high_resolution", timer.value().high_resolution() ? "yes" : "no");
  UniqueHandle wake(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(wake);

  for (auto wait : {1ms, 20ms}) {
    const auto start = WaitTimer::Clock::now();
    EXPECT_FALSE(timer.value().wait_until(start + wait, wake.get()));
    EXPECT_GE(WaitTimer::Clock::now() - start, wait) << "woke early";
  }
  // A moment already past: no wait at all.
  EXPECT_FALSE(timer.value().wait_until(WaitTimer::Clock::now() - 1s, wake.get()));

  std::thread setter([&] {
    std::this_thread::sleep_for(50ms);
    SetEvent(wake.get());
  });
  EXPECT_TRUE(timer.value().wait_until(WaitTimer::Clock::now() + 60s, wake.get()));
  setter.join();
  EXPECT_TRUE(timer.value().wait_until(WaitTimer::Clock::now() + 60s, wake.get()));
}

INSTANTIATE_TEST_SUITE_P(HighResolutionAndFallback, WaitTimerTest, testing::Bool());

}  // namespace
}  // namespace korvex::platform
