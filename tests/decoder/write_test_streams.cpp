// Writes a test stream file for the Windows decoder tests and the decode
// timing figures: x264-encoded access units, each with the luma hash of what
// libavcodec decodes from it.
//
//   korvex-test-streams OUT WIDTHxHEIGHT FRAMES [WIDTHxHEIGHT FRAMES ...]
//
// Several sizes follow one another in one stream, each starting at a keyframe.

#include <cstdio>
#include <string>

#include "decoder/h264_decoder.hpp"
#include "stream_file.hpp"
#include "x264_stream.hpp"

using korvex::test::StoredUnit;

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: %s OUT WIDTHxHEIGHT FRAMES [WIDTHxHEIGHT FRAMES ...]\n", argv[0]);
    return 2;
  }
  std::vector<StoredUnit> units;
  std::unique_ptr<korvex::decoder::H264Decoder> decoder;
  uint64_t pts_us = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    korvex::test::StreamShape shape;
    if (std::sscanf(argv[i], "%ux%u", &shape.width, &shape.height) != 2 ||
        std::sscanf(argv[i + 1], "%u", &shape.frames) != 1 || shape.frames == 0) {
      std::fprintf(stderr, "bad size or frame count: %s %s\n", argv[i], argv[i + 1]);
      return 2;
    }
    shape.first_pts_us = pts_us;
    auto created = korvex::decoder::H264Decoder::create(shape.width, shape.height);
    if (!created) {
      std::fprintf(stderr, "decoder: %s\n", created.error().c_str());
      return 1;
    }
    decoder = std::move(created).value();
    for (auto& unit : korvex::test::encode_stream(shape)) {
      StoredUnit stored;
      stored.pts_us = unit.pts_us;
      stored.keyframe = unit.keyframe;
      auto frames = decoder->decode(korvex::Payload::copy_of(unit.data), unit.pts_us);
      if (!frames || frames->size() > 1) {
        std::fprintf(stderr, "reference decode failed at pts %llu\n",
                     static_cast<unsigned long long>(unit.pts_us));
        return 1;
      }
      if (frames->size() == 1) {
        const korvex::Nv12Frame frame = korvex::pack_nv12(frames->front());
        stored.reference_width = frame.width;
        stored.reference_height = frame.height;
        stored.reference_luma_hash = korvex::test::luma_hash(
            std::span(frame.data).first(size_t{frame.width} * frame.height));
      }
      stored.data = std::move(unit.data);
      pts_us = unit.pts_us + 1000000 / 30;
      units.push_back(std::move(stored));
    }
  }
  if (!korvex::test::write_stream_file(argv[1], units)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
