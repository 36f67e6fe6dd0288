#include "audio/output_choice.hpp"

#include <span>
#include <string>

#include <fmt/format.h>

#include "audio/render_state.hpp"
#include "platform/console.hpp"

namespace korvex::audio {
namespace {

// Builds the microphone on `mics`, rendering from `jitter`, and starts it.
Result<OpenedStream> start_microphone(MicrophoneHost& mics,
                                      std::shared_ptr<jitter::JitterBuffer> jitter,
                                      ErrorCallback on_error) {
  // The server's cycle decides how many frames each call takes; the render
  // state turns the buffer's 10 ms blocks into any number of them.
  auto state = std::make_shared<RenderState>(std::move(jitter), kMicrophoneConfig.sample_rate,
                                             kMicrophoneConfig.channels);
  auto on_data = [state](std::span<std::byte> buffer) {
    state->render(
        std::span<float>(reinterpret_cast<float*>(buffer.data()), buffer.size() / sizeof(float)));
  };
  auto stream = mics.create(std::move(on_data), std::move(on_error));
  if (!stream) {
    return fail(stream.error());
  }
  if (auto started = stream.value()->play(); !started) {
    return fail(started.error());
  }
  return OpenedStream{std::move(stream.value()), std::string(kMicrophoneName), kMicrophoneConfig};
}

}  // namespace

AudioChoice choose_audio_output(bool device_given, MicrophoneHost* mics) {
  if (device_given || mics == nullptr) {
    return {};
  }
  if (!mics->server_running()) {
    return AudioChoice{false, true};
  }
  return AudioChoice{true, false};
}

Result<AudioOutput> open_microphone_output(std::shared_ptr<MicrophoneHost> mics,
                                           std::shared_ptr<jitter::JitterBuffer> jitter,
                                           std::chrono::milliseconds retry) {
  // Made the same way the first time and after every failure.
  auto start = [mics, jitter](ErrorCallback on_error) {
    return start_microphone(*mics, jitter, std::move(on_error));
  };
  return keep_playing(start, start, retry);
}

Result<AudioOutput> open_receiver_audio(std::string_view device, bool device_given,
                                        std::shared_ptr<jitter::JitterBuffer> jitter) {
  std::shared_ptr<MicrophoneHost> mics = make_microphone_host();
  const AudioChoice choice = choose_audio_output(device_given, mics.get());
  if (choice.microphone) {
    return open_microphone_output(std::move(mics), std::move(jitter), kReopenInterval);
  }
  if (choice.no_server) {
    platform::write_stderr(fmt::format(
        "audio: no {} server found for the \"{}\"; playing into the output device \"{}\"\n",
        mics->server_name(), kMicrophoneName, device));
  }
  return open_audio_output(device, std::move(jitter));
}

}  // namespace korvex::audio
