#include "audio/endpoint_fill.hpp"

#include <gtest/gtest.h>

namespace korvex::audio {
namespace {

TEST(EndpointFill, KeepsTheTargetQueuedWhateverBufferTheEngineGrants) {
  const EndpointFill fill(48000, 4800);
  EXPECT_EQ(fill.target(), 2880u);
  EXPECT_EQ(fill.room(0), 2880u);
  EXPECT_EQ(fill.room(2400), 480u);
  // Never beyond the target, however much room the buffer has left.
  EXPECT_EQ(fill.room(2880), 0u);
  EXPECT_EQ(fill.room(4000), 0u);
}

TEST(EndpointFill, ABufferSmallerThanTheTargetIsFilledWhole) {
  const EndpointFill fill(44100, 1323);  // an engine that grants 30 ms
  EXPECT_EQ(fill.target(), 1323u);
  EXPECT_EQ(fill.room(323), 1000u);
}

}  // namespace
}  // namespace korvex::audio
