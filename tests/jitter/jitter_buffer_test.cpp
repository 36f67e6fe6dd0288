#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "jitter/jitter_buffer.hpp"

namespace korvex::jitter {
namespace {

// Samples numbered from `first`, scaled into [-1, 1] so each is recognisable.
std::vector<float> ramp(size_t count, size_t first = 1) {
  std::vector<float> v(count);
  for (size_t i = 0; i < count; ++i) {
    v[i] = static_cast<float>(first + i) / 65536.0f;
  }
  return v;
}

std::vector<float> pop(JitterBuffer& jitter, size_t n) {
  std::vector<float> out(n, -9.0f);
  jitter.pop(out);
  return out;
}

bool all_zero(const std::vector<float>& v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return x == 0.0f; });
}

TEST(JitterBuffer, DefaultPrefillAndCeiling) {
  JitterBuffer jitter(40.0);
  EXPECT_EQ(jitter.prefill(), 1920u);
  EXPECT_EQ(jitter.ceiling(), 5760u);
  EXPECT_EQ(JitterBuffer(999.99).prefill(), 47999u);
  EXPECT_EQ(JitterBuffer(999.99).ceiling(), 48000u);
  EXPECT_EQ(JitterBuffer(40.5).prefill(), 1944u);
  EXPECT_EQ(JitterBuffer(0.01).prefill(), 0u);  // below one sample
}

TEST(JitterBuffer, WaitsForThePrefillWithoutCountingUnderruns) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(1919));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 0u);
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 1919.0 / 48.0);

  jitter.push(ramp(1, 1920));
  const auto out = pop(jitter, 480);
  EXPECT_EQ(out, ramp(480));                     // the 480 oldest samples
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 30.0);  // 1440 left
}

TEST(JitterBuffer, RunningDryPartWayIsNotAnUnderrunButAnEmptyBlockIs) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(1920));
  pop(jitter, 480);
  pop(jitter, 480);
  pop(jitter, 480);
  pop(jitter, 380);  // 100 left, still playing
  auto out = pop(jitter, 480);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 100), ramp(100, 1821));
  EXPECT_TRUE(all_zero(std::vector<float>(out.begin() + 100, out.end())));
  EXPECT_EQ(jitter.underruns(), 0u);

  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 1u);

  // Filling again: less than the prefill plays nothing and counts nothing.
  jitter.push(ramp(1000));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 1u);
  jitter.push(ramp(920, 1001));
  EXPECT_EQ(pop(jitter, 480), ramp(480));
}

TEST(JitterBuffer, CeilingKeepsTheNewestPrefill) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(5760));  // at the ceiling, nothing dropped
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 120.0);
  jitter.push(ramp(1, 5761));
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 40.0);
  EXPECT_EQ(pop(jitter, 1920), ramp(1920, 5761 - 1919));

  JitterBuffer fresh(40.0);
  fresh.push(ramp(7000));
  EXPECT_DOUBLE_EQ(fresh.buffered_ms(), 40.0);
  EXPECT_EQ(pop(fresh, 1920), ramp(1920, 7000 - 1919));
}

TEST(JitterBuffer, PushBeyondCapacityWrapsThenTrims) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(50'000));
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 40.0);
  EXPECT_EQ(pop(jitter, 1920), ramp(1920, 50'000 - 1919));

  // The indices wrap around the ring while playing continues in order.
  JitterBuffer wrapping(100.0);  // prefill 4800, ceiling 14400
  size_t next_in = 1, next_out = 1;
  for (int round = 0; round < 40; ++round) {
    wrapping.push(ramp(4000, next_in));
    next_in += 4000;
    for (int block = 0; block < 8; ++block) {
      const auto out = pop(wrapping, 480);
      if (!all_zero(out)) {
        EXPECT_EQ(out, ramp(480, next_out));
        next_out += 480;
      }
    }
  }
  EXPECT_GT(next_out, 48'000u * 2);  // went round the ring more than twice
}

TEST(JitterBuffer, ResetStartsOverFromFilling) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(1920));
  pop(jitter, 1920);
  pop(jitter, 480);
  ASSERT_EQ(jitter.underruns(), 1u);
  jitter.push(ramp(1920));
  pop(jitter, 480);
  jitter.reset();
  EXPECT_EQ(jitter.underruns(), 0u);
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 0.0);
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 0u);
  jitter.push(ramp(1920, 77));
  EXPECT_EQ(pop(jitter, 480), ramp(480, 77));
}

TEST(JitterBuffer, EmptyPopWritesAndCountsNothing) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(1920));
  jitter.pop({});
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 40.0);
  pop(jitter, 1920);
  jitter.pop({});
  EXPECT_EQ(jitter.underruns(), 0u);
}

TEST(JitterBuffer, ZeroPrefillPlaysAtOnceWithBoundedLatency) {
  JitterBuffer jitter(0.0);
  EXPECT_EQ(jitter.prefill(), 0u);
  EXPECT_EQ(jitter.ceiling(), JitterBuffer::kZeroPrefillCeiling);

  // Idle: silence, and an empty buffer is not counted as running dry.
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 0u);

  // The first samples play at once.
  jitter.push(ramp(100));
  auto out = pop(jitter, 480);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 100), ramp(100));

  // Running dry while playing is an underrun as usual.
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 1u);

  // A burst above the ceiling keeps the newest render block instead of
  // emptying the ring.
  jitter.push(ramp(2000));
  EXPECT_DOUBLE_EQ(jitter.buffered_ms(), 10.0);
  EXPECT_EQ(pop(jitter, 480), ramp(480, 2000 - 479));
}

}  // namespace
}  // namespace korvex::jitter
