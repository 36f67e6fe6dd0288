// Writes the phone simulator's own stream (its test picture and stamp, its
// encoder settings) to a stream file, so the figures script can time the raw
// decoder on exactly what the receiver decoded, and the end-to-end test can
// send stamped pictures faster than they can be encoded. Reference pictures
// are not recorded (0 x 0): nothing that reads this file compares them.
//
//   korvex-sim-stream OUT WIDTHxHEIGHT FPS FRAMES

#include <cstdio>
#include <vector>

#include "frame_stamp.hpp"
#include "h264_encoder.hpp"
#include "stream_file.hpp"
#include "test_pattern.hpp"

int main(int argc, char** argv) {
  korvex::tools::H264Settings video;
  unsigned frames = 0;
  if (argc != 5 || std::sscanf(argv[2], "%ux%u", &video.width, &video.height) != 2 ||
      std::sscanf(argv[3], "%u", &video.fps) != 1 || std::sscanf(argv[4], "%u", &frames) != 1 ||
      video.fps == 0 || frames == 0) {
    std::fprintf(stderr, "usage: %s OUT WIDTHxHEIGHT FPS FRAMES\n", argv[0]);
    return 2;
  }
  video.gop = video.fps;  // as the figures script runs the simulator
  auto encoder = korvex::tools::H264Encoder::open(video);
  if (!encoder) {
    std::fprintf(stderr, "encoder: %s\n", encoder.error().c_str());
    return 1;
  }
  const uint32_t w = video.width, h = video.height;
  std::vector<uint8_t> picture(static_cast<size_t>(w) * h * 3 / 2);
  std::vector<korvex::test::StoredUnit> units;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint64_t pts_us = uint64_t{i} * 1'000'000 / video.fps;
    korvex::tools::draw_test_pattern(picture, w, h, i);
    korvex::tools::draw_stamp(picture.data(), w, h, w, korvex::tools::Stamp{i, pts_us});
    korvex::tools::neutral_stamp_chroma(picture.data() + static_cast<size_t>(w) * h, w, h, w);
    auto unit = encoder->encode(picture, false);
    if (!unit) {
      std::fprintf(stderr, "encode: %s\n", unit.error().c_str());
      return 1;
    }
    korvex::test::StoredUnit stored;
    stored.data = std::move(unit->data);
    stored.pts_us = pts_us;
    stored.keyframe = unit->keyframe;
    units.push_back(std::move(stored));
  }
  if (!korvex::test::write_stream_file(argv[1], units)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
