#include "audio/output_choice.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

#include "audio/device_modes.hpp"
#include "fake_audio_host.hpp"

namespace korvex::audio {
namespace {

using namespace std::chrono_literals;

struct FakeMicrophoneStream final : OutputStream {
  Result<void> play_result;
  Result<void> play() override { return play_result; }
};

// A microphone server that records what the receiver asked of it. The
// keeper's thread creates microphones while the test looks.
struct FakeMicrophoneHost final : MicrophoneHost {
  bool running = true;
  std::atomic<int> asked_running{0};
  std::optional<std::string> create_error;
  Result<void> play_result;

  std::mutex lock;
  std::vector<DataCallback> on_data;    // guarded by lock, one per microphone made
  std::vector<ErrorCallback> on_error;  // guarded by lock

  std::string_view server_name() const override { return "FakeWire"; }
  bool server_running() override {
    ++asked_running;
    return running;
  }
  Result<std::unique_ptr<OutputStream>> create(DataCallback data, ErrorCallback error) override {
    if (create_error) {
      return fail(*create_error);
    }
    std::lock_guard hold(lock);
    on_data.push_back(std::move(data));
    on_error.push_back(std::move(error));
    auto stream = std::make_unique<FakeMicrophoneStream>();
    stream->play_result = play_result;
    return std::unique_ptr<OutputStream>(std::move(stream));
  }
  size_t made() {
    std::lock_guard hold(lock);
    return on_data.size();
  }
};

TEST(ChooseAudioOutput, TheMicrophoneOnlyWhenDeviceIsLeftOutAndItsServerAnswers) {
  FakeMicrophoneHost mics;
  AudioChoice choice = choose_audio_output(false, &mics);
  EXPECT_TRUE(choice.microphone);
  EXPECT_FALSE(choice.no_server);

  // --device, whatever it names, is an endpoint; the server is not even asked.
  mics.asked_running = 0;
  choice = choose_audio_output(true, &mics);
  EXPECT_FALSE(choice.microphone);
  EXPECT_FALSE(choice.no_server);
  EXPECT_EQ(mics.asked_running, 0);

  mics.running = false;
  choice = choose_audio_output(false, &mics);
  EXPECT_FALSE(choice.microphone);
  EXPECT_TRUE(choice.no_server);
  EXPECT_EQ(mics.asked_running, 1);

  // Where no microphone can exist (Windows), the endpoint, with nothing to say.
  choice = choose_audio_output(false, nullptr);
  EXPECT_FALSE(choice.microphone);
  EXPECT_FALSE(choice.no_server);
}

struct MicrophoneOutput : ::testing::Test {
  std::shared_ptr<FakeMicrophoneHost> mics = std::make_shared<FakeMicrophoneHost>();
  std::shared_ptr<jitter::JitterBuffer> jitter = std::make_shared<jitter::JitterBuffer>(40.0);

  Result<AudioOutput> open() { return open_microphone_output(mics, jitter, 5ms); }

  // One cycle of the server asking for `frames` mono float frames.
  std::vector<float> cycle(size_t microphone, size_t frames) {
    std::vector<float> out(frames, -9.0f);
    DataCallback on_data;
    {
      std::lock_guard hold(mics->lock);
      on_data = mics->on_data.at(microphone);
    }
    on_data(std::as_writable_bytes(std::span<float>(out)));
    return out;
  }
};

TEST_F(MicrophoneOutput, PlaysTheBufferWhateverTheServersCycleTakes) {
  auto output = open();
  ASSERT_TRUE(output) << output.error();
  EXPECT_EQ(output->endpoint_name, "Korvex Microphone");
  EXPECT_EQ(output->sample_rate, 48000u);
  EXPECT_EQ(output->channels, 1u);
  EXPECT_TRUE(output->keeper->playing());

  std::vector<float> phone(1920 + 3800);
  std::iota(phone.begin(), phone.end(), 1.0f);
  jitter->push(std::span<const float>(phone).first(1920));
  // Cycles of a quantum, of a smaller one and of an odd size: the samples come
  // out in order and whole, across the buffer's 480-sample blocks.
  // The phone keeps pace, so the fill stays at its target and nothing is
  // steered.
  std::vector<float> played;
  size_t pushed = 1920;
  for (size_t frames : {1024u, 256u, 777u, 1024u, 719u}) {
    const auto out = cycle(0, frames);
    played.insert(played.end(), out.begin(), out.end());
    jitter->push(std::span<const float>(phone).subspan(pushed, frames));
    pushed += frames;
  }
  ASSERT_EQ(played.size(), 3800u);
  EXPECT_EQ(played, std::vector<float>(phone.begin(), phone.begin() + 3800));
  EXPECT_EQ(jitter->underruns(), 0u);
}

TEST_F(MicrophoneOutput, ReportsWhatTheServerRefuses) {
  mics->create_error = "connect to PipeWire: Host is down";
  auto output = open();
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "connect to PipeWire: Host is down");

  mics->create_error.reset();
  mics->play_result = fail("pw_stream_connect: Invalid argument");
  output = open();
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "pw_stream_connect: Invalid argument");
}

TEST_F(MicrophoneOutput, IsMadeAgainWhenItsServerLosesIt) {
  auto output = open();
  ASSERT_TRUE(output);
  ErrorCallback lost;
  {
    std::lock_guard hold(mics->lock);
    lost = mics->on_error.at(0);
  }
  lost("PipeWire: connection to the server lost");
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while ((mics->made() < 2 || !output->keeper->playing()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(mics->made(), 2u);
  EXPECT_TRUE(output->keeper->playing());

  // The new microphone plays from the same buffer.
  jitter->push(std::vector<float>(1920, 0.5f));
  EXPECT_EQ(cycle(1, 512), std::vector<float>(512, 0.5f));
}

TEST(DeviceListWithMicrophone, NamesTheMicrophoneFirst) {
  testing::FakeHost host;
  host.add(std::string("Speakers"));
  host.default_endpoint = host.endpoints[0];
  EXPECT_EQ(device_list_text(host, true),
            "Output devices (Fake):\n"
            "  - Korvex Microphone (created by the receiver)\n"
            "  - Speakers  (default)\n");
  host.enumerate_error = "connect to PulseAudio: Connection refused";
  EXPECT_EQ(device_list_text(host, true),
            "Output devices (Fake):\n"
            "  - Korvex Microphone (created by the receiver)\n"
            "  (could not enumerate: connect to PulseAudio: Connection refused)\n");
}

}  // namespace
}  // namespace korvex::audio
