#include <gtest/gtest.h>

#include "main/snapshot.hpp"

namespace korvex::main {
namespace {

using counters::Counters;
using counters::CounterSnapshot;
using frames::Configure;
using frames::DecodeQueue;
using frames::Frame;

TEST(Snapshot, StartsAtZero) {
  Counters counters;
  DecodeQueue queue(8, 64 << 20);
  const CounterSnapshot s = take_snapshot(counters, queue);
  EXPECT_EQ(s.frames_received + s.frames_decoded + s.bytes_received + s.decode_errors +
                s.audio_packets + s.rtt_us + s.dropped + s.queue_length,
            0u);
  EXPECT_EQ(s.width, 0u);
  EXPECT_EQ(s.height, 0u);
  EXPECT_FALSE(s.connected);
  EXPECT_EQ(counters.audio_level(), 0.0f);
  EXPECT_EQ(counters.phone_name(), "");
}

TEST(Snapshot, CopiesCountersAndAddsTheQueuesDropsToDrops) {
  Counters counters;
  counters.frames_received = 12;
  counters.frames_decoded = 9;
  counters.bytes_received = 4096;
  counters.decode_errors = 1;
  counters.audio_packets = 100;
  counters.rtt_us = 4200;
  counters.width = 1280;
  counters.height = 720;
  counters.connected = true;
  counters.frames_dropped = 2;  // held back by the keyframe gate or with no decoder

  DecodeQueue queue(2, 64 << 20);
  queue.push(Configure{1280, 720});
  for (int i = 0; i < 7; ++i) {
    queue.push(Frame{Payload::copy_of(std::vector<uint8_t>{1, 2, 3}), static_cast<uint64_t>(i),
                     i == 0 || i == 5});
  }
  const CounterSnapshot s = take_snapshot(counters, queue);
  EXPECT_EQ(s.frames_received, 12u);
  EXPECT_EQ(s.frames_decoded, 9u);
  EXPECT_EQ(s.bytes_received, 4096u);
  EXPECT_EQ(s.decode_errors, 1u);
  EXPECT_EQ(s.audio_packets, 100u);
  EXPECT_EQ(s.rtt_us, 4200u);
  EXPECT_EQ(s.width, 1280u);
  EXPECT_EQ(s.height, 720u);
  EXPECT_TRUE(s.connected);
  // Frame 1 was evicted from the full queue, and 2, 3 and 4, which refer to
  // it, were thrown away; then keyframe 0 was evicted to make room for 6.
  EXPECT_EQ(queue.evicted(), 2u);
  EXPECT_EQ(queue.orphaned(), 3u);
  EXPECT_EQ(s.dropped, 2u + 2u + 3u);
  EXPECT_EQ(s.queue_length, 3u);  // the Configure and frames 5 and 6
}

TEST(Snapshot, AudioLevelAndPhoneNameAreReadBack) {
  Counters counters;
  counters.set_audio_level(0.999969482421875f);
  EXPECT_EQ(counters.audio_level(), 0.999969482421875f);
  counters.set_phone_name("J\xC3\xBCrgen's iPhone");
  EXPECT_EQ(counters.phone_name(), "J\xC3\xBCrgen's iPhone");
}

}  // namespace
}  // namespace korvex::main
