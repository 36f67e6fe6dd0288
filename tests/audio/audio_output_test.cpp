#include "audio/audio_output.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fake_audio_host.hpp"

namespace korvex::audio {
namespace {

using testing::FakeEndpoint;
using testing::FakeHost;
using testing::SharedHost;
using namespace std::chrono_literals;

// Waits for what another thread does; fails after far longer than it takes.
template <class Done>
bool eventually(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool same(const StreamConfig& a, const StreamConfig& b) {
  return a.format == b.format && a.channels == b.channels && a.sample_rate == b.sample_rate;
}

// An endpoint that plays F32 stereo at 48 kHz, and nothing else.
std::shared_ptr<FakeEndpoint> f32_endpoint(std::string name) {
  auto endpoint = std::make_shared<FakeEndpoint>(std::move(name));
  endpoint->ranges = std::vector<ConfigRange>{{SampleFormat::F32, 2, 48000, 48000}};
  return endpoint;
}

// Endpoints the test unplugs and plugs back while outputs look for them, and
// the jitter buffer every output opened here plays from.
struct PluggableHost : SharedHost {
  using SharedHost::SharedHost;
  Result<AudioOutput> open(std::string_view device) {
    return open_audio_output(factory(), device, jitter, 10ms);
  }
  std::shared_ptr<jitter::JitterBuffer> jitter = std::make_shared<jitter::JitterBuffer>(40.0);
};

TEST(ChooseStreamConfig, PrefersF32At48kHzThenAnyFormatAt48kHzThenTheDefault) {
  FakeEndpoint endpoint(std::string("x"));
  endpoint.default_result = StreamConfig{SampleFormat::F32, 2, 44100};

  endpoint.ranges = std::vector<ConfigRange>{{SampleFormat::I16, 2, 8000, 96000},
                                             {SampleFormat::F32, 6, 44100, 44100},
                                             {SampleFormat::F32, 2, 44100, 192000},
                                             {SampleFormat::F32, 1, 48000, 48000}};
  auto config = choose_stream_config(endpoint);
  ASSERT_TRUE(config);
  EXPECT_TRUE(same(config.value(), {SampleFormat::F32, 2, 48000}));

  endpoint.ranges = std::vector<ConfigRange>{{SampleFormat::I16, 1, 44100, 44100},
                                             {SampleFormat::I16, 2, 48000, 48000},
                                             {SampleFormat::F64, 4, 48000, 48000}};
  config = choose_stream_config(endpoint);
  ASSERT_TRUE(config);
  EXPECT_TRUE(same(config.value(), {SampleFormat::I16, 2, 48000}));

  // No range reaches 48 kHz, or the ranges cannot be listed: the mix format.
  endpoint.ranges = std::vector<ConfigRange>{{SampleFormat::F32, 2, 44100, 44100}};
  config = choose_stream_config(endpoint);
  ASSERT_TRUE(config);
  EXPECT_TRUE(same(config.value(), {SampleFormat::F32, 2, 44100}));
  endpoint.ranges = fail("probe failed");
  config = choose_stream_config(endpoint);
  ASSERT_TRUE(config);
  EXPECT_TRUE(same(config.value(), {SampleFormat::F32, 2, 44100}));

  endpoint.default_result = fail("IAudioClient::GetMixFormat: Element not found. (0x80070490)");
  config = choose_stream_config(endpoint);
  ASSERT_FALSE(config);
  EXPECT_EQ(config.error(),
            "no usable output config: IAudioClient::GetMixFormat: Element not found. (0x80070490)");
}

struct OpenAudioOutput : ::testing::Test {
  FakeHost host;
  std::shared_ptr<FakeEndpoint> cable =
      host.add(std::string("CABLE Input (VB-Audio Virtual Cable)"));
  std::shared_ptr<jitter::JitterBuffer> jitter = std::make_shared<jitter::JitterBuffer>(40.0);

  HostFactory hosts() {
    return [this] { return std::unique_ptr<AudioHost>(std::make_unique<FakeHost>(host)); };
  }
  Result<AudioOutput> open() { return open_audio_output(hosts(), "CABLE Input", jitter, 10ms); }
};

TEST_F(OpenAudioOutput, StartsAStreamThatRendersFromTheJitterBuffer) {
  cable->ranges = std::vector<ConfigRange>{{SampleFormat::F32, 2, 44100, 48000}};
  auto output = open();
  ASSERT_TRUE(output) << output.error();
  EXPECT_EQ(output->endpoint_name, "CABLE Input (VB-Audio Virtual Cable)");
  EXPECT_EQ(output->sample_rate, 48000u);
  EXPECT_EQ(output->channels, 2u);
  EXPECT_EQ(cable->plays, 1);
  EXPECT_TRUE(output->keeper->playing());

  jitter->push(std::vector<float>(1920, 0.25f));
  std::vector<float> buffer(2 * 480);
  cable->on_data(std::as_writable_bytes(std::span<float>(buffer)));
  EXPECT_EQ(buffer, std::vector<float>(buffer.size(), 0.25f));
}

TEST_F(OpenAudioOutput, RendersI16Streams) {
  jitter->push(std::vector<float>(1920, 0.5f));
  cable->ranges = std::vector<ConfigRange>{{SampleFormat::I16, 1, 48000, 48000}};
  ASSERT_TRUE(open());
  std::vector<int16_t> i16(4);
  cable->on_data(std::as_writable_bytes(std::span<int16_t>(i16)));
  EXPECT_EQ(i16, std::vector<int16_t>(4, 16384));
}

TEST_F(OpenAudioOutput, ReportsEachFailingStep) {
  auto output = open_audio_output(hosts(), "Speakers", jitter, 10ms);
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error().rfind("no output device matching \"Speakers\"", 0), 0u);

  // An I32 range at 48 kHz wins over the F32 default, and is refused by name.
  cable->ranges = std::vector<ConfigRange>{{SampleFormat::I32, 2, 48000, 48000}};
  cable->default_result = StreamConfig{SampleFormat::F32, 2, 44100};
  output = open();
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "unsupported sample format: I32");
  EXPECT_FALSE(cable->built);

  cable->ranges = std::vector<ConfigRange>{};
  cable->default_result = StreamConfig{SampleFormat::F64, 2, 48000};
  output = open();
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "unsupported sample format: F64");

  cable->default_result = StreamConfig{SampleFormat::F32, 2, 48000};
  cable->build_error = "IAudioClient::Initialize: 0x88890008";
  output = open();
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "could not build output stream: IAudioClient::Initialize: 0x88890008");

  cable->build_error.reset();
  cable->play_result = fail("IAudioClient::Start: 0x88890004");
  output = open();
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "could not start audio: IAudioClient::Start: 0x88890004");
}

TEST(ReopenAudioOutput, PlaysIntoTheSameEndpointAgainWhenItComesBack) {
  auto cable = f32_endpoint("CABLE Input (VB-Audio Virtual Cable)");
  auto other = f32_endpoint("CABLE Input 16ch");
  PluggableHost host({cable, other});
  auto output = host.open("cable input");
  ASSERT_TRUE(output) << output.error();
  ASSERT_EQ(cable->plays, 1);

  // Unplugged: the render thread reports it and ends. While it is gone,
  // attempts fail quietly, and the other endpoint that --device would match
  // now is left alone.
  host.unplug(cable);
  cable->on_error("the endpoint was removed");
  EXPECT_TRUE(eventually([&] { return !output->keeper->playing(); }));
  std::this_thread::sleep_for(100ms);  // some ten attempts
  EXPECT_EQ(cable->plays, 1);
  EXPECT_EQ(other->plays, 0);
  EXPECT_FALSE(output->keeper->playing());

  // Back: a new stream plays from the same jitter buffer.
  host.plug(cable);
  ASSERT_TRUE(eventually([&] { return cable->plays == 2; }));
  EXPECT_TRUE(eventually([&] { return output->keeper->playing(); }));
  host.jitter->push(std::vector<float>(1920, 0.25f));
  std::vector<float> buffer(2 * 480);
  cable->on_data(std::as_writable_bytes(std::span<float>(buffer)));
  EXPECT_EQ(buffer, std::vector<float>(buffer.size(), 0.25f));

  // Lost again, and let go of while retrying: the keeper stops.
  host.unplug(cable);
  cable->on_error("the endpoint was removed");
  EXPECT_TRUE(eventually([&] { return !output->keeper->playing(); }));
  output->keeper.reset();
  EXPECT_EQ(cable->plays, 2);
}

TEST(ReopenAudioOutput, AStreamThatFailsAtOnceIsReopenedAgain) {
  auto cable = f32_endpoint("CABLE Input");
  PluggableHost host({cable});
  auto output = host.open("cable");
  ASSERT_TRUE(output) << output.error();
  for (int failures = 1; failures <= 3; ++failures) {
    cable->on_error("device lost");
    ASSERT_TRUE(eventually([&] { return cable->plays == failures + 1; }));
  }
  EXPECT_TRUE(eventually([&] { return output->keeper->playing(); }));
}

TEST(StopAudioOutput, EveryKeptStreamEndsForGood) {
  auto cable = f32_endpoint("CABLE Input");
  auto headset = f32_endpoint("USB Headset");
  PluggableHost host({cable, headset});
  auto playing = host.open("cable");
  auto retrying = host.open("headset");
  ASSERT_TRUE(playing && retrying);
  host.unplug(headset);
  headset->on_error("the endpoint was removed");
  ASSERT_TRUE(eventually([&] { return headset->streams == 0; }));

  StreamKeeper::stop_all();
  EXPECT_EQ(cable->streams, 0);
  EXPECT_FALSE(playing->keeper->playing());
  // Back while stopped: not opened again.
  host.plug(headset);
  std::this_thread::sleep_for(100ms);  // some ten attempts' time
  EXPECT_EQ(headset->plays, 1);
  EXPECT_EQ(headset->streams, 0);
  StreamKeeper::stop_all();  // nothing left to stop
}

}  // namespace
}  // namespace korvex::audio
