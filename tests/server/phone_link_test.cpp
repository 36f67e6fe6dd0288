#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

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

TEST(PhoneLink, AConnectionStaysCurrentUntilANewerOneOrItsEnd) {
  using std::chrono::milliseconds;
  PhoneLink link;
  link.install_current(platform::Socket(), std::make_shared<std::atomic<bool>>(true), 1);
  EXPECT_TRUE(link.stays_current(1, milliseconds(1)));
  EXPECT_FALSE(link.stays_current(2, milliseconds(10'000)));

  // A ping thread waiting out its interval ends as soon as a newer phone comes.
  auto first =
      std::async(std::launch::async, [&] { return link.stays_current(1, milliseconds(60'000)); });
  link.install_current(platform::Socket(), std::make_shared<std::atomic<bool>>(true), 2);
  ASSERT_EQ(first.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(first.get());

  auto second =
      std::async(std::launch::async, [&] { return link.stays_current(2, milliseconds(60'000)); });
  EXPECT_TRUE(link.release_current(2));
  ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(second.get());
}

}  // namespace
}  // namespace korvex::server
