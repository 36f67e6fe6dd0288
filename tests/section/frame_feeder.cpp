// Test helper: publishes stamped grey pictures through FrameWriter into the
// real frame section, as the receiver's decode thread would, so the reader
// tool can be checked against a live writer on both systems.
//
// usage: frame-feeder WIDTH HEIGHT FPS FEED_SECONDS LINGER_SECONDS
// Prints "mapped" once the section is mapped and "fed N" at the end. While it
// feeds, the phone counts as active; while it lingers, it does not.

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <fmt/format.h>

#include "frame_stamp.hpp"
#include "platform/console.hpp"
#include "section/frame_writer.hpp"

int main(int argc, char** argv) {
  using namespace korvex;
  using namespace korvex::section;
  using namespace std::chrono;
  if (argc != 6) {
    platform::write_stderr("usage: frame-feeder WIDTH HEIGHT FPS FEED_SECONDS LINGER_SECONDS\n");
    return 2;
  }
  const auto width = static_cast<uint32_t>(std::atoi(argv[1]));
  const auto height = static_cast<uint32_t>(std::atoi(argv[2]));
  const int fps = std::atoi(argv[3]);
  const int feed_seconds = std::atoi(argv[4]);
  const int linger_seconds = std::atoi(argv[5]);

  Result<std::shared_ptr<FrameWriter>> started = FrameWriter::start();
  if (!started) {
    platform::write_stderr(fmt::format("spawn shm thread: {}\n", started.error()));
    return 1;
  }
  FrameWriter& writer = *started.value();
  for (int i = 0; !writer.mapped(); ++i) {
    if (i == 500) {
      platform::write_stderr("frame section not mapped after 5 s\n");
      return 1;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  writer.set_phone_active(true);
  platform::write_stdout("mapped\n");

  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.data.assign(uint64_t{width} * height * 3 / 2, 128);
  tools::neutral_stamp_chroma(frame.data.data() + uint64_t{width} * height, width, height, width);
  const auto start = steady_clock::now();
  const int count = fps * feed_seconds;
  uint64_t fed = 0;
  for (int i = 0; i < count; ++i) {
    std::this_thread::sleep_until(start + microseconds(1000000LL * i / fps));
    const auto now_us = duration_cast<microseconds>(system_clock::now().time_since_epoch());
    tools::draw_stamp(
        frame.data.data(), width, height, width,
        tools::Stamp{static_cast<uint32_t>(i), static_cast<uint64_t>(now_us.count())});
    frame.timestamp_us = static_cast<uint64_t>(i) * 1000000 / static_cast<uint64_t>(fps);
    if (writer.write_frame(frame).ok()) {
      ++fed;
    }
  }
  writer.set_phone_active(false);
  std::this_thread::sleep_for(seconds(linger_seconds));
  platform::write_stdout(fmt::format("fed {}\n", fed));
  platform::exit_process(0);  // the "shm" thread never ends by itself
}
