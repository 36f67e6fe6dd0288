#pragma once

// An audio output that stays playing: its first stream and a keeper that
// opens it again after a failure, both saying so on standard error.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/stream_keeper.hpp"
#include "common/result.hpp"

namespace korvex::audio {

// Held by the main thread for the whole run; releasing it stops playback.
struct AudioOutput {
  std::string endpoint_name;
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
  std::unique_ptr<StreamKeeper> keeper;  // the playing stream
};

// Starts the first stream with `open`, which reports the stream's failure to
// a keeper that then calls `reopen` every `retry` until a stream plays.
Result<AudioOutput> keep_playing(const StreamKeeper::Reopen& open, StreamKeeper::Reopen reopen,
                                 std::chrono::milliseconds retry);

}  // namespace korvex::audio
