#include "audio_stream.hpp"

#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

#include "protocol/wire.hpp"

namespace korvex::phone_sim {
namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 480;  // 10 ms

// Audio payload: timestamp (u64 little-endian, microseconds), then s16
// little-endian mono samples. Silence still carries its samples (zeros), so
// the receiver knows how long it lasts.
std::vector<uint8_t> audio_message(const Options& o, uint64_t block) {
  std::vector<uint8_t> payload(8 + 2 * kBlock, 0);
  const uint64_t timestamp_us = block * 10'000;
  for (int i = 0; i < 8; ++i) {
    payload[i] = static_cast<uint8_t>(timestamp_us >> (8 * i));
  }
  if (o.audio == AudioMode::tone) {
    const double amplitude = o.tone_level * 32767.0;
    for (uint32_t j = 0; j < kBlock; ++j) {
      const uint64_t n = block * kBlock + j;
      // The phase as a fraction of a cycle keeps long runs precise.
      const double cycles = std::fmod(o.tone_hz * static_cast<double>(n) / kRate, 1.0);
      const auto s =
          static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * cycles)));
      payload[8 + 2 * j] = static_cast<uint8_t>(s);
      payload[9 + 2 * j] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
  }
  return protocol::encode_message(static_cast<uint8_t>(protocol::MessageType::audio),
                                  o.audio == AudioMode::silent ? protocol::kFlagSilent : 0,
                                  payload);
}

}  // namespace

void stream_audio(Session& session) {
  const uint64_t total = session.options.duration_s > 0
                             ? static_cast<uint64_t>(session.options.duration_s * 100 + 0.5)
                             : UINT64_MAX;
  for (uint64_t block = 0; block < total; ++block) {
    sleep_until(session, session.start + block * std::chrono::milliseconds(10));
    if (!session.running()) {
      return;
    }
    if (auto sent = session.connection.send(audio_message(session.options, block)); !sent) {
      session.end_with_error(sent.error());
      return;
    }
    ++session.counts.audio;
  }
}

}  // namespace korvex::phone_sim
