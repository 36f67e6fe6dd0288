#pragma once

#include "h264_encoder.hpp"
#include "session.hpp"

namespace korvex::phone_sim {

// The video path: stamped test pictures, encoded and sent at the frame rate,
// an IDR on every keyframe request. Returns when the run ends.
void stream_video(Session& session, tools::H264Encoder& encoder);

}  // namespace korvex::phone_sim
