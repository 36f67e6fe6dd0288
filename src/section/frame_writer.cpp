#include "section/frame_writer.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include <fmt/format.h>

#include "platform/console.hpp"
#include "platform/thread.hpp"

namespace korvex::section {
namespace {

// "WxH" of the largest 16:9 NV12 picture of `bytes` or fewer, for people
// choosing a smaller size on the phone.
std::string largest_wide_picture(uint64_t bytes) {
  uint64_t k = 0;  // the picture is 16k x 9k, 216 k^2 bytes; k even keeps both sides even
  while (216 * (k + 2) * (k + 2) <= bytes) {
    k += 2;
  }
  return fmt::format("{}x{}", 16 * k, 9 * k);
}

}  // namespace

Result<std::shared_ptr<FrameWriter>> FrameWriter::start() {
  std::shared_ptr<FrameWriter> writer(new FrameWriter(
      open_or_create_frame_section, activity_tick_now,
      [](std::string_view line) { platform::write_stderr(std::string(line) + "\n"); }));
  Result<void> spawned = platform::spawn_thread("shm", [writer] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      writer->tend_section();
    }
  });
  if (!spawned) {
    return Error{spawned.error()};
  }
  return writer;
}

Result<void> FrameWriter::write_frame(const Picture& picture) {
  return write_checked(picture, picture.nv12_size());
}

Result<void> FrameWriter::write_frame(const Nv12Frame& frame) {
  return write_checked(picture_of(frame), frame.data.size());
}

Result<void> FrameWriter::write_checked(const Picture& picture, uint64_t size) {
  std::string warning;
  Result<void> written = write_locked(picture, size, warning);
  if (!warning.empty()) {
    warn_(warning);
  }
  return written;
}

Result<void> FrameWriter::write_locked(const Picture& picture, uint64_t size,
                                       std::string& warning) {
  std::lock_guard guard(lock_);
  if (!section_) {
    return fail("frame section not mapped");
  }
  if (size > geometry_.slot_size) {
    const std::pair<uint32_t, uint32_t> size_refused{picture.width, picture.height};
    if (refused_sizes_.size() < kSizesReported &&
        std::find(refused_sizes_.begin(), refused_sizes_.end(), size_refused) ==
            refused_sizes_.end()) {
      refused_sizes_.push_back(size_refused);
      warning = fmt::format(
          "frame section: a {}x{} picture ({} bytes) does not fit a slot ({} bytes, at most {} "
          "at 16:9); the camera gets no picture of this size",
          picture.width, picture.height, size, geometry_.slot_size,
          largest_wide_picture(geometry_.slot_size));
    }
    return fail(fmt::format("frame {} bytes exceeds slot {}", size, geometry_.slot_size));
  }
  if (size != picture.nv12_size()) {
    return fail("frame is not tightly packed NV12");
  }
  publish_frame(section_.get(), geometry_, picture, tick_());
  written_.fetch_add(1);
  return {};
}

void FrameWriter::tend_section() {
  std::lock_guard guard(lock_);
  if (section_) {
    if (phone_active_.load()) {
      store_activity_tick(section_.get(), tick_());
    }
    return;
  }
  bool creation_denied = false;
  Result<MappedSection> opened = open_(&creation_denied);
  if (!opened) {
    if (creation_denied && !warned_) {
      warned_ = true;
      warn_(fmt::format("frame section: not allowed to create {} ({}); {}", frame_section_name(),
                        opened.error(), creation_denied_hint()));
    }
    return;
  }
  Result<SectionGeometry> geometry = adopt_section(opened->get());
  if (!geometry) {
    return;  // the view is unmapped and the object closed as `opened` goes
  }
  section_ = std::move(opened.value());
  geometry_ = geometry.value();
  mapped_.store(true);
}

}  // namespace korvex::section
