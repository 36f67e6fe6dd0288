#include "picture/frame_pacer.hpp"

#include <gtest/gtest.h>

namespace korvex::picture {
namespace {

using namespace std::chrono_literals;
using Clock = FramePacer::Clock;

TEST(FramePacer, HoldsAFastConsumerToTheGridAndNeverBurstsForASlowOne) {
  FramePacer pacer(10ms);
  const Clock::time_point start = Clock::now();

  EXPECT_EQ(pacer.take_slot(start), start) << "the first picture goes at once";
  // Asked again at once, and again: one period apart each.
  EXPECT_EQ(pacer.take_slot(start), start + 10ms);
  EXPECT_EQ(pacer.take_slot(start + 1ms), start + 20ms);
  // Asked between slots: the next slot of the grid, not a period after asking.
  EXPECT_EQ(pacer.take_slot(start + 34ms), start + 40ms);
  // Asked exactly on a slot that is free: that slot.
  EXPECT_EQ(pacer.take_slot(start + 50ms), start + 50ms);
  // Far behind: the coming slot, then the grid again; no catching up.
  EXPECT_EQ(pacer.take_slot(start + 123ms), start + 130ms);
  EXPECT_EQ(pacer.take_slot(start + 124ms), start + 140ms);
}

}  // namespace
}  // namespace korvex::picture
