#include <gtest/gtest.h>

#include <vector>

#include "protocol/wire.hpp"
#include "server/audio_conversion.hpp"

namespace korvex::server {
namespace {

protocol::msg::Audio audio(const std::vector<int16_t>& samples, bool silent = false) {
  std::vector<uint8_t> pcm;
  for (const int16_t s : samples) {
    pcm.push_back(static_cast<uint8_t>(s));
    pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  }
  return protocol::msg::Audio{Payload::copy_of(pcm), silent};
}

float convert(const protocol::msg::Audio& a, float gain, std::vector<float>& scratch) {
  return convert_audio(a.pcm.bytes(), a.silent, gain, scratch);
}

TEST(ConvertAudio, ScalesByOneOver32768ThenGainAndClamps) {
  std::vector<float> scratch;
  EXPECT_EQ(convert(audio({-32768}), 1.0f, scratch), 1.0f);
  EXPECT_EQ(scratch, std::vector<float>{-1.0f});

  EXPECT_EQ(convert(audio({32767, 0, -16384}), 1.0f, scratch), 0.999969482421875f);
  EXPECT_EQ(scratch, (std::vector<float>{0.999969482421875f, 0.0f, -0.5f}));

  // 16384 at gain 4 is 2.0 before clamping.
  EXPECT_EQ(convert(audio({16384, -16384, 4096}), 4.0f, scratch), 1.0f);
  EXPECT_EQ(scratch, (std::vector<float>{1.0f, -1.0f, 0.5f}));
}

TEST(ConvertAudio, SilenceIsZerosWithPeakZero) {
  std::vector<float> scratch{0.7f};
  const std::vector<int16_t> loud(480, 20000);
  EXPECT_EQ(convert(audio(loud, true), 1.0f, scratch), 0.0f);
  EXPECT_EQ(scratch, std::vector<float>(480, 0.0f));
}

TEST(ConvertAudio, LongMessageGrowsTheScratchOnceAndShorterOnesReuseIt) {
  std::vector<float> scratch;
  scratch.reserve(480);
  std::vector<int16_t> samples(2000);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(i);
  }
  EXPECT_EQ(convert(audio(samples), 1.0f, scratch), 1999.0f / 32768.0f);
  ASSERT_EQ(scratch.size(), 2000u);
  EXPECT_EQ(scratch[1999], 1999.0f / 32768.0f);

  const float* storage = scratch.data();
  EXPECT_EQ(convert(audio({1, 2, 3}), 1.0f, scratch), 3.0f / 32768.0f);
  EXPECT_EQ(scratch.size(), 3u);
  EXPECT_EQ(scratch.data(), storage);
}

TEST(ConvertAudio, EmptyMessage) {
  std::vector<float> scratch{1.0f};
  EXPECT_EQ(convert(audio({}), 2.0f, scratch), 0.0f);
  EXPECT_TRUE(scratch.empty());
}

}  // namespace
}  // namespace korvex::server
