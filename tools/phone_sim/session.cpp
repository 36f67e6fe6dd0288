#include "session.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <thread>

#include "audio_stream.hpp"
#include "platform/thread.hpp"
#include "protocol/wire.hpp"
#include "replies.hpp"
#include "video_stream.hpp"

namespace korvex::phone_sim {
namespace {

std::vector<uint8_t> hello_message(const Options& o) {
  nlohmann::json hello = {
      {"name", o.name},           {"app", "korvex-phone-sim"}, {"width", o.video.width},
      {"height", o.video.height}, {"fps", o.video.fps},        {"codec", "h264"},
  };
  if (o.audio != AudioMode::none) {
    hello["audio"] = {{"rate", 48000}, {"channels", 1}, {"format", "s16le"}};
  }
  // A name that is not valid UTF-8 gets replacement characters, not an exception.
  const std::string json = hello.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return protocol::encode_message(static_cast<uint8_t>(protocol::MessageType::hello), 0,
                                  {reinterpret_cast<const uint8_t*>(json.data()), json.size()});
}

}  // namespace

void Session::end_with_error(const std::string& text) {
  {
    std::lock_guard lock(error_lock_);
    if (error_.empty()) {
      error_ = text;
    }
  }
  end();
}

std::string Session::error() const {
  std::lock_guard lock(error_lock_);
  return error_;
}

void sleep_until(const Session& session, std::chrono::steady_clock::time_point due) {
  constexpr auto kSlice = std::chrono::milliseconds(20);
  while (session.running()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= due) {
      return;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, kSlice));
  }
}

void run_session(Session& session) {
  // Opened first: it takes a while, and the first picture is due at the start.
  std::optional<tools::H264Encoder> encoder;
  if (session.pre_encoded == nullptr) {
    auto opened = tools::H264Encoder::open(session.options.video);
    if (!opened) {
      session.end_with_error(opened.error());
      return;
    }
    encoder.emplace(std::move(opened).value());
  }
  if (auto sent = session.connection.send(hello_message(session.options)); !sent) {
    session.end_with_error(sent.error());
    return;
  }
  session.start = std::chrono::steady_clock::now();
  if (session.pre_encoded != nullptr) {
    // The stamps say when each picture leaves, on the wall clock.
    const auto ahead_us = static_cast<int64_t>(session.pre_encoded->start_wall_us) -
                          static_cast<int64_t>(wall_clock_us());
    if (ahead_us < 0) {
      session.end_with_error("the pre-encoded pictures' schedule began before the hello went");
      return;
    }
    session.start += std::chrono::microseconds(ahead_us);
  }
  {
    std::jthread replies([&session] {
      platform::set_current_thread_name("replies");
      answer_receiver(session);
    });
    {
      std::jthread audio;
      if (session.options.audio != AudioMode::none) {
        audio = std::jthread([&session] {
          platform::set_current_thread_name("audio");
          // A phone's microphone keeps its pace whatever this machine is
          // doing; an ordinary thread here would send late, in bursts, on a
          // busy machine, and the receiver would be blamed for the holes.
          platform::prioritise_current_thread();
          stream_audio(session);
        });
      }
      if (encoder) {
        stream_video(session, *encoder);
      } else {
        stream_pre_encoded(session, *session.pre_encoded);
      }
    }  // both paths have finished: their counts are done, or the run was cut short
    session.end();
    if (session.error().empty()) {
      const auto bye =
          protocol::encode_message(static_cast<uint8_t>(protocol::MessageType::bye), 0, {});
      if (auto sent = session.connection.send(bye); !sent) {
        session.end_with_error(sent.error());
      }
    }
    session.connection.shutdown();  // wakes the reply path
  }
}

}  // namespace korvex::phone_sim
