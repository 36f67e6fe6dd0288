#pragma once

// The phone simulator's command line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "h264_encoder.hpp"

namespace korvex::phone_sim {

enum class AudioMode { tone, silent, none };

struct Options {
  bool discover = false;  // find host and port over DNS-SD instead
  std::string host = "127.0.0.1";
  uint16_t port = 45334;
  tools::H264Settings video;  // size, fps, GOP, bitrate, colour tag
  double duration_s = 0;      // 0: until interrupted or disconnected
  bool pre_encode = false;    // encode every picture before connecting
  bool flat_out = false;      // with pre_encode: send back to back, not on schedule
  uint32_t pace = 0;          // with flat_out: at most this many pictures a second (0: no limit)
  std::string save_stream;    // with pre_encode: also write the pictures to this stream file
  std::string name = "Korvex phone simulator";
  AudioMode audio = AudioMode::tone;
  double tone_hz = 440;
  double tone_level = 0.25;  // of full scale
  bool help = false;
};

// Parses the arguments after the program name; fails with a one-line reason.
Result<Options> parse_options(const std::vector<std::string_view>& args);

extern const std::string_view kHelpText;

}  // namespace korvex::phone_sim
