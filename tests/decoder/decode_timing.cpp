// Decode time per frame of a stream file with this build's H264Decoder
// (libavcodec single-threaded on Linux, the system's transform on Windows),
// for the decoder figures script. Not a test: timings go to standard output.
//
//   korvex-decode-timing STREAM_FILE

#include <chrono>
#include <cstdio>

#include <fmt/format.h>

#include "decoder/h264_decoder.hpp"
#include "stream_file.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s STREAM_FILE\n", argv[0]);
    return 2;
  }
  const auto units = korvex::test::read_stream_file(argv[1]);
  if (!units || units->empty()) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const auto& first = units->front();
  korvex::decoder::init_decoder_thread();
  auto created =
      korvex::decoder::H264Decoder::create(first.reference_width, first.reference_height);
  if (!created) {
    std::fprintf(stderr, "decoder: %s\n", created.error().c_str());
    return 1;
  }
  auto& decoder = *created.value();

  using Clock = std::chrono::steady_clock;
  uint64_t pictures = 0;
  uint64_t bytes = 0;
  const Clock::time_point start = Clock::now();
  for (const auto& unit : *units) {
    auto frames = decoder.decode(korvex::Payload::copy_of(unit.data), unit.pts_us);
    if (!frames) {
      std::fprintf(stderr, "decode: %s\n", frames.error().c_str());
      return 1;
    }
    pictures += frames->size();
    bytes += unit.data.size();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::fputs(fmt::format("{}x{}: {} units ({} KiB) -> {} pictures in {:.2f} s: {:.2f} ms per "
                         "unit, {:.0f} units/s\n",
                         decoder.width(), decoder.height(), units->size(), bytes / 1024, pictures,
                         seconds, 1000.0 * seconds / static_cast<double>(units->size()),
                         static_cast<double>(units->size()) / seconds)
                 .c_str(),
             stdout);
  return 0;
}
