// korvex-frames: reads the frame section the way the virtual camera's media
// source does (open only, newest frame through frame_counter, copies only
// under the sequence rule), to check what the receiver publishes.

#include <charconv>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "frame_stamp.hpp"
#include "platform/console.hpp"
#include "png/frame_dump.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"
#include "watch_summary.hpp"

namespace {

using namespace korvex;
using namespace korvex::section;

constexpr char kUsage[] =
    "usage: korvex-frames --header | --watch SECONDS | --follow SECONDS | --dump DIR\n"
    "  --header          print the frame section's header and check it\n"
    "  --watch SECONDS   follow new frames for that long and summarise them\n"
    "  --follow SECONDS  as --watch, with a line for every frame as it is seen:\n"
    "                    \"frame INDEX SENT_US SEEN_US\" or \"unreadable SEEN_US\"\n"
    "  --dump DIR        write the newest frame's luma as DIR/frame-N.png\n";

// A copy is retried at most this often before the reader gives up on a slot.
constexpr int kCopyAttempts = 1000;

int failure(const std::string& text) {
  platform::write_stderr("korvex-frames: " + text + "\n");
  return 1;
}

struct OpenSection {
  MappedSection memory;
  SectionGeometry geometry;
};

Result<OpenSection> open_section() {
  Result<MappedSection> memory = open_existing_frame_section();
  if (!memory) {
    return fail(
        fmt::format("cannot open frame section {}: {}", frame_section_name(), memory.error()));
  }
  Result<SectionGeometry> geometry = validate_header(read_header(memory->get()));
  if (!geometry) {
    return fail(
        fmt::format("frame section {} is not usable: {}", frame_section_name(), geometry.error()));
  }
  return OpenSection{std::move(memory.value()), geometry.value()};
}

uint64_t wall_clock_us() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

int print_header() {
  Result<MappedSection> memory = open_existing_frame_section();
  if (!memory) {
    return failure(
        fmt::format("cannot open frame section {}: {}", frame_section_name(), memory.error()));
  }
  const SectionHeader header = read_header(memory->get());
  platform::write_stdout(fmt::format(
      "magic=0x{:08X} version={} slot_count={} slot_size={} frame_counter={} activity_tick={}\n",
      header.magic, header.version, header.slot_count, header.slot_size, header.frame_counter,
      header.activity_tick));
  Result<SectionGeometry> geometry = validate_header(header);
  if (!geometry) {
    return failure(
        fmt::format("frame section {} is not usable: {}", frame_section_name(), geometry.error()));
  }
  return 0;
}

// With `each_frame`, a line per frame copied, so that a driver can tell when
// a stream's pictures came back (stamps carry the sender's wall clock).
int watch(uint64_t seconds, bool each_frame) {
  Result<OpenSection> section = open_section();
  if (!section) {
    return failure(section.error());
  }
  const uint8_t* memory = section->memory.get();
  const SectionGeometry geometry = section->geometry;
  SlotFrame frame;
  frame.data.reserve(geometry.slot_size);
  tools::WatchSummary summary;

  // Only frames published from now on count.
  uint64_t last = read_header(memory).frame_counter;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const SectionHeader header = read_header(memory);
    summary.observe_activity(header.activity_tick, activity_tick_now());
    if (header.frame_counter > last) {
      // Seen when its number is published; copying it out is the reader's time.
      const uint64_t seen_us = wall_clock_us();
      switch (copy_newest(memory, geometry, frame)) {
        case SlotCopy::complete: {
          const auto stamp =
              tools::read_stamp(frame.data.data(), frame.width, frame.height, frame.width);
          summary.add_frame(frame.width, frame.height, stamp, seen_us);
          if (each_frame) {
            platform::write_stdout(
                stamp ? fmt::format("frame {} {} {}\n", stamp->index, stamp->send_time_us, seen_us)
                      : fmt::format("unreadable {}\n", seen_us));
          }
          last = frame.number;
          continue;
        }
        case SlotCopy::torn:
          summary.add_torn();
          continue;  // at once: the writer has moved on to a newer frame
        case SlotCopy::empty:
        case SlotCopy::malformed:
          summary.add_malformed();
          last = header.frame_counter;
          break;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  summary.finish(activity_tick_now());
  platform::write_stdout(summary.report());
  return 0;
}

int dump(const std::string& directory) {
  Result<OpenSection> section = open_section();
  if (!section) {
    return failure(section.error());
  }
  SlotFrame frame;
  SlotCopy copied = SlotCopy::torn;
  for (int attempt = 0; attempt < kCopyAttempts && copied == SlotCopy::torn; ++attempt) {
    copied = copy_newest(section->memory.get(), section->geometry, frame);
  }
  switch (copied) {
    case SlotCopy::complete:
      break;
    case SlotCopy::empty:
      return failure("no frame has been written into the section yet");
    case SlotCopy::torn:
      return failure("the writer kept rewriting the newest slot; no complete copy");
    case SlotCopy::malformed:
      return failure("the newest slot does not hold a valid frame");
  }
  Nv12Frame picture;
  picture.width = frame.width;
  picture.height = frame.height;
  picture.data = std::move(frame.data);
  Result<std::string> path = png::dump_frame(directory, frame.number, picture);
  if (!path) {
    return failure(path.error());
  }
  platform::write_stdout(path.value() + "\n");
  return 0;
}

int usage_error(const std::string& text) {
  platform::write_stderr(text.empty() ? kUsage : text + "\n" + kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  if (args.size() == 1 && args[0] == "--header") {
    return print_header();
  }
  if (args.size() == 2 && (args[0] == "--watch" || args[0] == "--follow")) {
    uint64_t seconds = 0;
    const std::string& text = args[1];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds == 0) {
      return usage_error(args[0] + " needs a whole number of seconds");
    }
    return watch(seconds, args[0] == "--follow");
  }
  if (args.size() == 2 && args[0] == "--dump") {
    return dump(args[1]);
  }
  return usage_error(args.empty() ? "" : "unexpected arguments");
}
