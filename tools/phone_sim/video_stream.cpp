#include "video_stream.hpp"

#include <sys/prctl.h>

#include <chrono>
#include <string>
#include <vector>

#include "frame_stamp.hpp"
#include "h264_encoder.hpp"
#include "protocol/wire.hpp"
#include "test_pattern.hpp"

namespace korvex::phone_sim {

uint64_t wall_clock_us() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

void draw_stamped_picture(std::vector<uint8_t>& picture, uint32_t w, uint32_t h, uint32_t index,
                          uint64_t send_time_us) {
  tools::draw_test_pattern(picture, w, h, index);
  tools::draw_stamp(picture.data(), w, h, w, tools::Stamp{index, send_time_us});
  tools::neutral_stamp_chroma(picture.data() + static_cast<size_t>(w) * h, w, h, w);
}

// Video payload: pts (u64 little-endian, microseconds), then the access unit.
std::vector<uint8_t> video_message(uint64_t pts_us, const tools::AccessUnit& unit) {
  std::vector<uint8_t> payload(8 + unit.data.size());
  for (int i = 0; i < 8; ++i) {
    payload[i] = static_cast<uint8_t>(pts_us >> (8 * i));
  }
  std::copy(unit.data.begin(), unit.data.end(), payload.begin() + 8);
  return protocol::encode_message(static_cast<uint8_t>(protocol::MessageType::video),
                                  unit.keyframe ? protocol::kFlagKeyframe : 0, payload);
}

void stream_video(Session& session, tools::H264Encoder& encoder) {
  const tools::H264Settings& video = session.options.video;
  const uint64_t total = session.options.duration_s > 0
                             ? static_cast<uint64_t>(session.options.duration_s * video.fps + 0.5)
                             : UINT64_MAX;
  const auto frame_time = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / video.fps));
  const uint32_t w = video.width, h = video.height;
  std::vector<uint8_t> picture(static_cast<size_t>(w) * h * 3 / 2);

  for (uint64_t i = 0; i < total; ++i) {
    const auto due = session.start + i * frame_time;
    sleep_until(session, due);
    if (!session.running()) {
      return;
    }
    if (std::chrono::steady_clock::now() - due > frame_time) {
      ++session.counts.late;
    }
    const auto index = static_cast<uint32_t>(i);
    // Taken just before encoding: the latency a reader measures from it
    // includes the encoder, as a phone's capture-to-screen latency would.
    draw_stamped_picture(picture, w, h, index, wall_clock_us());

    auto unit = encoder.encode(picture, session.keyframe_wanted.exchange(false));
    if (!unit) {
      session.end_with_error(unit.error());
      return;
    }
    if (unit->data.size() + 8 > protocol::kMaxPayload) {
      // The receiver would throw away everything it holds; stop instead.
      session.end_with_error("picture " + std::to_string(i) + " needs " +
                             std::to_string(unit->data.size()) +
                             " bytes, more than a message carries: lower --bitrate");
      return;
    }
    const uint64_t pts_us = i * 1'000'000 / video.fps;
    if (auto sent = session.connection.send(video_message(pts_us, unit.value())); !sent) {
      session.end_with_error(sent.error());
      return;
    }
    ++session.counts.frames;
    if (unit->keyframe) {
      ++session.counts.keyframes;
    }
  }
}

namespace {

// Flat out: from the first picture's time on, the pictures go back to back
// (or at --pace a second) until the duration is over, pass after pass. Each pass starts at picture
// 0, a keyframe, so no picture refers to one of another pass; the timestamps rise on across passes,
// as a longer stream's would.
void send_flat_out(Session& session, PreEncoded& pictures) {
  sleep_until(session, session.start);
  const auto end = session.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double>(session.options.duration_s));
  const uint32_t fps = session.options.video.fps;
  const uint32_t pace = session.options.pace;
  for (uint64_t i = 0; session.running() && std::chrono::steady_clock::now() < end; ++i) {
    if (pace != 0) {
      sleep_until(session, session.start + std::chrono::nanoseconds(i * 1'000'000'000 / pace));
    }
    std::vector<uint8_t>& message = pictures.messages[i % pictures.messages.size()];
    const uint64_t pts_us = i * 1'000'000 / fps;
    for (int b = 0; b < 8; ++b) {
      message[protocol::kHeaderSize + b] = static_cast<uint8_t>(pts_us >> (8 * b));
    }
    if (auto sent = session.connection.send(message); !sent) {
      session.end_with_error(sent.error());
      return;
    }
    ++session.counts.frames;
    if ((message[5] & protocol::kFlagKeyframe) != 0) {  // the header's flags byte
      ++session.counts.keyframes;
    }
  }
}

}  // namespace

void stream_pre_encoded(Session& session, PreEncoded& pictures) {
  // The kernel may otherwise let a sleep run 50 us long to save wake-ups.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  if (session.options.flat_out) {
    send_flat_out(session, pictures);
    return;
  }
  const uint32_t fps = session.options.video.fps;
  for (size_t i = 0; i < pictures.messages.size(); ++i) {
    const auto due =
        session.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::microseconds(i * 1'000'000 / fps));
    sleep_until(session, due);
    if (!session.running()) {
      return;
    }
    if (std::chrono::steady_clock::now() - due > std::chrono::microseconds(1'000'000 / fps)) {
      ++session.counts.late;
    }
    if (auto sent = session.connection.send(pictures.messages[i]); !sent) {
      session.end_with_error(sent.error());
      return;
    }
    ++session.counts.frames;
  }
  session.counts.keyframes = pictures.keyframes;
}

}  // namespace korvex::phone_sim
