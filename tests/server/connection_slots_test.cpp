#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "server/connection_slots.hpp"

namespace korvex::server {
namespace {

using namespace std::chrono_literals;

TEST(ConnectionSlots, TheNextConnectionWaitsUntilBothThreadsOfAnOlderOneHaveLetGo) {
  const auto slots = std::make_shared<ConnectionSlots>(2);
  auto first = slots->hold();
  auto ping_copy = first;  // a connection's two threads share its slot
  const auto second = slots->hold();
  EXPECT_EQ(slots->held(), 2u);

  std::atomic<bool> accepted{false};
  std::thread accept([&] {
    slots->wait_for_free();
    accepted = true;
  });
  first.reset();  // its reader has ended, its ping thread not yet
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(accepted);
  ping_copy.reset();
  accept.join();
  EXPECT_TRUE(accepted);
  EXPECT_EQ(slots->held(), 1u);
}

TEST(ConnectionSlots, ASlotOutlivesTheSlotsOwnerReference) {
  auto slots = std::make_shared<ConnectionSlots>(1);
  std::weak_ptr<ConnectionSlots> watch = slots;
  auto slot = slots->hold();
  slots.reset();
  EXPECT_FALSE(watch.expired());
  slot.reset();
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace korvex::server
