// The reference the video figures are measured against: libavcodec alone,
// one thread, set up as the receiver's decoder is, on a stream file, with
// nothing done to the pictures it gives back. Not a test: figures go to
// standard output as key=value pairs.
//
//   korvex-raw-decode STREAM_FILE        as fast as it goes: pictures per second
//   korvex-raw-decode STREAM_FILE FPS    each unit at its time at FPS, as a phone
//                                        sends: CPU use and time per picture

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "stream_file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace {

using Clock = std::chrono::steady_clock;

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s STREAM_FILE [FPS]\n", argv[0]);
    return 2;
  }
  const auto units = korvex::test::read_stream_file(argv[1]);
  if (!units || units->empty()) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const double fps = argc == 3 ? std::atof(argv[2]) : 0;

  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* picture = av_frame_alloc();
  if (context == nullptr || packet == nullptr || picture == nullptr) {
    std::fprintf(stderr, "libavcodec: no H.264 decoder\n");
    return 1;
  }
  context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  context->thread_count = 1;
  context->thread_type = 0;
  context->err_recognition |= AV_EF_EXPLODE;
  if (avcodec_open2(context, codec, nullptr) < 0) {
    std::fprintf(stderr, "avcodec_open2 failed\n");
    return 1;
  }

  std::vector<double> times_ms;
  times_ms.reserve(units->size());
  uint64_t pictures = 0;
  const double cpu_start = cpu_seconds();
  const Clock::time_point start = Clock::now();
  for (size_t i = 0; i < units->size(); ++i) {
    if (fps > 0) {
      std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(i / fps)));
    }
    const Clock::time_point begun = Clock::now();
    const auto& unit = (*units)[i];
    packet->data = const_cast<uint8_t*>(unit.data.data());
    packet->size = static_cast<int>(unit.data.size());
    packet->pts = static_cast<int64_t>(unit.pts_us);
    if (avcodec_send_packet(context, packet) < 0) {
      std::fprintf(stderr, "decode failed at unit %zu\n", i);
      return 1;
    }
    while (avcodec_receive_frame(context, picture) == 0) {
      ++pictures;
      av_frame_unref(picture);
    }
    times_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begun).count());
  }
  if (fps > 0) {  // the last picture's time slot counts too
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(units->size() / fps)));
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpu_seconds() - cpu_start;
  double sum = 0;
  for (double t : times_ms) {
    sum += t;
  }
  std::fputs(fmt::format("units={} pictures={} seconds={:.3f} pictures_per_s={:.1f} "
                         "decode_ms_mean={:.3f} decode_ms_p50={:.3f} decode_ms_p99={:.3f} "
                         "cpu_percent={:.2f}\n",
                         units->size(), pictures, wall, pictures / wall,
                         sum / static_cast<double>(times_ms.size()), percentile(times_ms, 0.5),
                         percentile(times_ms, 0.99), 100 * cpu / wall)
                 .c_str(),
             stdout);
  av_frame_free(&picture);
  av_packet_free(&packet);
  avcodec_free_context(&context);
  return 0;
}
