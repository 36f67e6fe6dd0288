#include "audio/render_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/rate_steering.hpp"

namespace korvex::audio {
namespace {

// A buffer that plays `samples` straight away and in order: its prefill is
// just below a full second, which is what gets pushed.
std::shared_ptr<jitter::JitterBuffer> playing_buffer(const std::vector<float>& samples) {
  auto jitter = std::make_shared<jitter::JitterBuffer>(999.0);
  jitter->push(samples);
  return jitter;
}

std::vector<float> tone(size_t count) {
  std::vector<float> samples(count);
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<float>(
        0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000.0));
  }
  return samples;
}

TEST(RenderState, At48kHzPassesSamplesThroughUnchanged) {
  const std::vector<float> input = tone(48000);
  RenderState state(playing_buffer(input), 48000, 1);
  EXPECT_EQ(state.step(), 1.0);
  std::vector<float> out(1000);
  state.render(std::span<float>(out));
  EXPECT_EQ(out, std::vector<float>(input.begin(), input.begin() + 1000));
  state.render(std::span<float>(out).first(7));
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 7),
            std::vector<float>(input.begin() + 1000, input.begin() + 1007));
}

TEST(RenderState, At44100HzInterpolatesContinuouslyAcrossCallbacksOfOddSizes) {
  const std::vector<float> input = tone(96000);
  // Topped up before every callback to a little above the target, so that the
  // fill stays within the steering's band: the step stays the nominal one.
  auto jitter = std::make_shared<jitter::JitterBuffer>(500.0);
  size_t pushed = 0;
  auto top_up = [&] {
    const auto wanted = jitter->target() + 200;
    const auto queued = static_cast<size_t>(jitter->buffered_ms() * 48.0 + 0.5);
    const size_t count = wanted > queued ? wanted - queued : 0;
    jitter->push(std::span<const float>(input).subspan(pushed, count));
    pushed += count;
  };
  RenderState state(jitter, 44100, 1);
  const double step = 48000.0 / 44100.0;
  EXPECT_DOUBLE_EQ(state.step(), step);

  std::vector<float> played;
  size_t size = 1;
  while (played.size() < 40000) {
    top_up();
    std::vector<float> out(size);
    state.render(std::span<float>(out));
    ASSERT_EQ(state.step(), step) << "after frame " << played.size();
    played.insert(played.end(), out.begin(), out.end());
    size = size * 7 % 1013 + 1;  // odd and even sizes, from 1 to over 1000
  }
  for (size_t k = 0; k < played.size(); ++k) {
    const double position = static_cast<double>(k) * step;
    const auto i = static_cast<size_t>(position);
    const double fraction = position - static_cast<double>(i);
    const double expected = input[i] + fraction * (input[i + 1] - input[i]);
    ASSERT_NEAR(played[k], expected, 1e-5) << "frame " << k;
  }
}

TEST(RenderState, SteersItsStepByTheBuffersFill) {
  // Far above the target: drained faster, by the largest correction.
  auto full = std::make_shared<jitter::JitterBuffer>(100.0);
  full->push(tone(14000));  // 9200 samples above the target of 4800
  RenderState fast(full, 48000, 2);
  std::vector<float> out(2 * 480);
  fast.render(std::span<float>(out));
  EXPECT_DOUBLE_EQ(fast.step(), 1.0 + RateSteering::kMaxCorrection);

  // Kept 40 ms below the target for a few seconds: drained more slowly, by
  // the largest correction once the average has got there.
  auto low = std::make_shared<jitter::JitterBuffer>(100.0);
  low->push(tone(4800));
  RenderState slow(low, 44100, 1);
  std::vector<float> mono(441);  // 10 ms
  for (int block = 0; block < 500; ++block) {
    if (block >= 4) {
      low->push(tone(480));
    }
    slow.render(std::span<float>(mono));
  }
  EXPECT_EQ(low->underruns(), 0u);
  EXPECT_DOUBLE_EQ(slow.step(), 48000.0 / 44100.0 * (1.0 - RateSteering::kMaxCorrection));
}

TEST(RenderState, ConvertsToIntegerFormats) {
  EXPECT_EQ(to_i16(1.0f), 32767);
  EXPECT_EQ(to_i16(-1.0f), -32768);
  EXPECT_EQ(to_i16(0.5f), 16384);
  EXPECT_EQ(to_i16(-0.00002f), 0);  // truncated toward zero
  EXPECT_EQ(to_i16(3.0f), 32767);   // clamped
  EXPECT_EQ(to_i16(std::nanf("")), 0);
}

TEST(RenderState, WritesEachValueIntoEveryChannel) {
  const std::vector<float> input = tone(48000);
  {
    RenderState state(playing_buffer(input), 48000, 2);
    std::vector<float> out(2 * 300);
    state.render(std::span<float>(out));
    for (size_t i = 0; i < 300; ++i) {
      ASSERT_EQ(out[2 * i], input[i]);
      ASSERT_EQ(out[2 * i + 1], input[i]);
    }
  }
  {
    RenderState state(playing_buffer(input), 48000, 2);
    std::vector<int16_t> out(2 * 300);
    state.render(std::span<int16_t>(out));
    for (size_t i = 0; i < 300; ++i) {
      ASSERT_EQ(out[2 * i], to_i16(input[i]));
      ASSERT_EQ(out[2 * i + 1], to_i16(input[i]));
    }
  }
}

TEST(RenderState, PlaysSilenceWhileTheBufferFillsAndCountsNothing) {
  auto jitter = std::make_shared<jitter::JitterBuffer>(40.0);
  RenderState state(jitter, 48000, 2);
  std::vector<float> out(2 * 2000, 1.0f);
  state.render(std::span<float>(out));
  EXPECT_EQ(out, std::vector<float>(out.size(), 0.0f));
  EXPECT_EQ(jitter->underruns(), 0u);
}

}  // namespace
}  // namespace korvex::audio
