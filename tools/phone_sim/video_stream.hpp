#pragma once

#include <cstdint>
#include <vector>

#include "h264_encoder.hpp"
#include "pre_encoded.hpp"
#include "session.hpp"

namespace korvex::phone_sim {

// The video path: stamped test pictures, encoded and sent at the frame rate,
// an IDR on every keyframe request. Returns when the run ends.
void stream_video(Session& session, tools::H264Encoder& encoder);

// The video path for pictures encoded beforehand: each sent at its scheduled
// time from `session.start`; keyframe requests are counted, not answered.
// With --flat-out they go back to back from then on, over and over for the
// duration, their timestamps rewritten in place.
void stream_pre_encoded(Session& session, PreEncoded& pictures);

// Microseconds since 1970, the clock of the stamps.
uint64_t wall_clock_us();

// The test picture for `index` (NV12, w x h) with its stamp.
void draw_stamped_picture(std::vector<uint8_t>& picture, uint32_t w, uint32_t h, uint32_t index,
                          uint64_t send_time_us);

// One Video message.
std::vector<uint8_t> video_message(uint64_t pts_us, const tools::AccessUnit& unit);

}  // namespace korvex::phone_sim
