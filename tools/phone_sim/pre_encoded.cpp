#include "pre_encoded.hpp"

#include <chrono>
#include <string>

#include <fmt/format.h>

#include "h264_encoder.hpp"
#include "protocol/wire.hpp"
#include "stream_file.hpp"
#include "video_stream.hpp"

namespace korvex::phone_sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kTrialPictures = 5;
constexpr double kMargin = 1.5;             // the machine may get busier while encoding
constexpr uint64_t kConnectUs = 1'000'000;  // for connecting and the hello
constexpr int kAttempts = 3;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

Result<PreEncoded> pre_encode(const Options& options) {
  const tools::H264Settings& video = options.video;
  const auto total = static_cast<uint32_t>(options.duration_s * video.fps + 0.5);
  const uint32_t w = video.width, h = video.height;
  std::vector<uint8_t> picture(static_cast<size_t>(w) * h * 3 / 2);

  // The stamps hold the schedule, so it must be fixed before the first
  // picture is encoded: time a few pictures on an encoder of their own.
  auto trial = tools::H264Encoder::open(video);
  if (!trial) {
    return fail(trial.error());
  }
  const Clock::time_point trial_start = Clock::now();
  for (uint32_t i = 0; i < kTrialPictures; ++i) {
    draw_stamped_picture(picture, w, h, i, 0);
    if (auto unit = trial->encode(picture, false); !unit) {
      return fail(unit.error());
    }
  }
  double per_picture = seconds_since(trial_start) / kTrialPictures;

  // A busy machine can make the whole take longer than its first pictures
  // said; then again, planned from the time the whole took.
  for (int attempt = 1;; ++attempt) {
    PreEncoded out;
    std::vector<test::StoredUnit> saved;
    out.start_wall_us =
        wall_clock_us() + kConnectUs + static_cast<uint64_t>(per_picture * total * kMargin * 1e6);
    auto encoder = tools::H264Encoder::open(video);
    if (!encoder) {
      return fail(encoder.error());
    }
    const Clock::time_point start = Clock::now();
    out.messages.reserve(total);
    for (uint32_t i = 0; i < total; ++i) {
      const uint64_t pts_us = uint64_t{i} * 1'000'000 / video.fps;
      draw_stamped_picture(picture, w, h, i, out.start_wall_us + pts_us);
      auto unit = encoder->encode(picture, false);
      if (!unit) {
        return fail(unit.error());
      }
      if (unit->data.size() + 8 > protocol::kMaxPayload) {
        return fail(
            fmt::format("picture {} needs {} bytes, more than a message carries: lower "
                        "--bitrate",
                        i, unit->data.size()));
      }
      out.keyframes += unit->keyframe ? 1 : 0;
      out.messages.push_back(video_message(pts_us, unit.value()));
      if (!options.save_stream.empty()) {
        saved.push_back(test::StoredUnit{std::move(unit->data), pts_us, unit->keyframe});
      }
    }
    out.encode_seconds = seconds_since(start);
    if (wall_clock_us() + kConnectUs / 2 <= out.start_wall_us) {
      if (!options.save_stream.empty() && !test::write_stream_file(options.save_stream, saved)) {
        return fail("cannot write " + options.save_stream);
      }
      return out;
    }
    if (attempt == kAttempts) {
      return fail(
          fmt::format("pre-encoding took {:.1f} s, longer than planned {} times: the "
                      "machine is too busy",
                      out.encode_seconds, kAttempts));
    }
    per_picture = out.encode_seconds / total;
  }
}

}  // namespace korvex::phone_sim
