#include "audio/kept_output.hpp"

#include <fmt/format.h>

#include "platform/console.hpp"

namespace korvex::audio {
namespace {

void print_stream_error(const std::string& error) {
  platform::write_stderr(fmt::format("audio stream error: {}\n", error));
}

void print_back(const OpenedStream& opened) {
  platform::write_stderr(fmt::format("audio back: playing into \"{}\" ({} Hz, {} ch)\n",
                                     opened.endpoint_name, opened.config.sample_rate,
                                     opened.config.channels));
}

}  // namespace

Result<AudioOutput> keep_playing(const StreamKeeper::Reopen& open, StreamKeeper::Reopen reopen,
                                 std::chrono::milliseconds retry) {
  auto keeper =
      std::make_unique<StreamKeeper>(std::move(reopen), print_stream_error, print_back, retry);
  auto opened = open(keeper->error_callback());
  if (!opened) {
    return fail(opened.error());
  }
  AudioOutput output{opened->endpoint_name, opened->config.sample_rate, opened->config.channels,
                     std::move(keeper)};
  if (auto kept = output.keeper->keep(std::move(opened->stream)); !kept) {
    return fail(kept.error());
  }
  return output;
}

}  // namespace korvex::audio
