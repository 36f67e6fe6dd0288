#include <gtest/gtest.h>

#include <chrono>

#include "server/phone_link.hpp"
#include "server/ping.hpp"

namespace korvex::server {
namespace {

TEST(RoundTrip, AcceptsUpToJustUnderSixtySeconds) {
  EXPECT_EQ(round_trip_us(1'000'000, 850'000), 150'000u);
  EXPECT_EQ(round_trip_us(5, 5), 0u);
  EXPECT_EQ(round_trip_us(60'000'000, 1), 59'999'999u);
  EXPECT_EQ(round_trip_us(60'000'001, 1), std::nullopt);
  // A value from the future, as a foreign or corrupted one would be.
  EXPECT_EQ(round_trip_us(1'000, 1'001), std::nullopt);
}

TEST(KeyframeThrottle, OnePerSecond) {
  using namespace std::chrono_literals;
  KeyframeThrottle throttle;
  const auto start = KeyframeThrottle::Clock::now();
  EXPECT_TRUE(throttle.try_claim(start));
  EXPECT_FALSE(throttle.try_claim(start + 999ms));
  EXPECT_TRUE(throttle.try_claim(start + 1s));
  EXPECT_FALSE(throttle.try_claim(start + 1s + 500ms));
  EXPECT_TRUE(throttle.try_claim(start + 2s));
}

TEST(PhoneLink, WithoutAConnectionNothingIsSentOrReleased) {
  PhoneLink link;
  const uint8_t message[] = {1, 2, 3};
  EXPECT_FALSE(link.send_to_current(message));
  EXPECT_FALSE(link.send_to_connection(1, message));
  EXPECT_FALSE(link.release_current(1));
  EXPECT_EQ(link.counters()->connected.load(), false);
}

}  // namespace
}  // namespace korvex::server
