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

TEST(JitterBuffer, AShortBlockIsAnUnderrunAndPlaybackWaitsForThePrefillAgain) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(1920));
  pop(jitter, 480);
  pop(jitter, 480);
  pop(jitter, 480);
  pop(jitter, 380);  // 100 left, still playing
  auto out = pop(jitter, 480);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 100), ramp(100, 1821));
  EXPECT_TRUE(all_zero(std::vector<float>(out.begin() + 100, out.end())));
  EXPECT_EQ(jitter.underruns(), 1u);

  // Filling again: what arrives now waits for the prefill instead of
  // playing straight into the next hole.
  jitter.push(ramp(1000, 5000));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 1u);
  jitter.push(ramp(920, 6000));
  EXPECT_EQ(pop(jitter, 480), ramp(480, 5000));

  // An empty block while playing counts once, like a short one.
  pop(jitter, 1440);
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 2u);
}

TEST(JitterBuffer, PopReportsTheFillItFound) {
  JitterBuffer jitter(40.0);
  std::vector<float> out(480);
  jitter.push(ramp(1000));
  Fill fill = jitter.pop(out);
  EXPECT_FALSE(fill.playing);
  EXPECT_EQ(fill.queued, 1000u);
  jitter.push(ramp(1000));
  fill = jitter.pop(out);
  EXPECT_TRUE(fill.playing);
  EXPECT_EQ(fill.queued, 2000u);
  fill = jitter.pop(out);
  EXPECT_TRUE(fill.playing);
  EXPECT_EQ(fill.queued, 1520u);
  EXPECT_EQ(jitter.target(), 1920u);
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

TEST(JitterBuffer, TheEndOfAStreamPlaysOutWithoutCountingAnUnderrun) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(1920));
  pop(jitter, 1920);
  pop(jitter, 480);
  ASSERT_EQ(jitter.underruns(), 1u);
  jitter.push(ramp(1920, 100));
  pop(jitter, 1000);
  jitter.end_stream();
  EXPECT_EQ(jitter.underruns(), 0u);
  auto out = pop(jitter, 1000);  // the last 920 samples, then the end
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 920), ramp(920, 1100));
  EXPECT_TRUE(all_zero(std::vector<float>(out.begin() + 920, out.end())));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  EXPECT_EQ(jitter.underruns(), 0u);
  EXPECT_EQ(jitter.discarded(), 0u);

  // The next phone starts from filling.
  jitter.push(ramp(1919, 77));
  EXPECT_TRUE(all_zero(pop(jitter, 480)));
  jitter.push(ramp(1, 77 + 1919));
  EXPECT_EQ(pop(jitter, 480), ramp(480, 77));

  // A stream shorter than the prefill still plays when it ends.
  JitterBuffer short_one(40.0);
  short_one.push(ramp(700));
  EXPECT_TRUE(all_zero(pop(short_one, 480)));
  short_one.end_stream();
  EXPECT_EQ(pop(short_one, 480), ramp(480));
  const auto rest = pop(short_one, 480);
  EXPECT_EQ(std::vector<float>(rest.begin(), rest.begin() + 220), ramp(220, 481));
  EXPECT_TRUE(all_zero(std::vector<float>(rest.begin() + 220, rest.end())));
  EXPECT_EQ(short_one.underruns(), 0u);

  // Audio that follows the end at once joins what is still playing.
  JitterBuffer joined(40.0);
  joined.push(ramp(1920));
  pop(joined, 480);
  joined.end_stream();
  joined.push(ramp(480, 1921));
  pop(joined, 1440);
  EXPECT_EQ(pop(joined, 480), ramp(480, 1921));
  EXPECT_EQ(joined.underruns(), 0u);

  // Ending an empty buffer leaves it filling.
  JitterBuffer idle(40.0);
  idle.end_stream();
  idle.push(ramp(100));
  EXPECT_TRUE(all_zero(pop(idle, 480)));
}

TEST(JitterBuffer, CountsEverySampleItDrops) {
  JitterBuffer jitter(40.0);
  jitter.push(ramp(5760));
  EXPECT_EQ(jitter.discarded(), 0u);
  jitter.push(ramp(1, 5761));  // 5761 queued, trimmed to 1920
  EXPECT_EQ(jitter.discarded(), 5761u - 1920u);
  jitter.push(ramp(50'000));  // 1920 + 50000 through a ring of 48000, then trimmed
  EXPECT_EQ(jitter.discarded(), 5761u - 1920u + 1920u + 50'000u - 1920u);
  pop(jitter, 480);
  jitter.end_stream();  // the rest plays out: nothing more dropped
  pop(jitter, 4000);
  EXPECT_EQ(jitter.discarded(), 5761u + 50'000u - 1920u);
}

TEST(JitterBuffer, WithoutAnOutputTheEndOfAStreamDropsWhatIsQueued) {
  // Nothing pops, as with --no-audio: the phone's last audio cannot play out.
  JitterBuffer jitter(40.0);
  jitter.push(ramp(3000));
  jitter.end_stream();
  EXPECT_EQ(jitter.buffered_ms(), 0.0);
  EXPECT_EQ(jitter.discarded(), 3000u);
  // The next phone fills it from empty.
  jitter.push(ramp(1000, 5000));
  EXPECT_EQ(jitter.buffered_ms(), 1000.0 / 48.0);
  jitter.end_stream();
  EXPECT_EQ(jitter.buffered_ms(), 0.0);
  EXPECT_EQ(jitter.discarded(), 4000u);
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

  // The first samples play at once; running dry while playing is an
  // underrun as usual.
  jitter.push(ramp(100));
  auto out = pop(jitter, 480);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 100), ramp(100));
  EXPECT_EQ(jitter.underruns(), 1u);
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
