// One writer publishing as fast as it can while a reader copies under the
// sequence rule: every copy the reader accepts must be one whole frame.
// Also built under ThreadSanitizer (the linux-tsan preset).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "section/frame_section.hpp"
#include "section_memory.hpp"

namespace korvex::section {
namespace {

uint64_t checksum(const std::vector<uint8_t>& data) {
  uint64_t hash = 1469598103934665603u;  // FNV-1a
  for (uint8_t byte : data) {
    hash = (hash ^ byte) * 1099511628211u;
  }
  return hash;
}

// Frame n: a size that changes with n and bytes that differ from every other
// frame's, with their checksum carried as the time stamp.
Nv12Frame checksummed(uint64_t n) {
  Nv12Frame frame = nv12(n % 2 ? 64 : 32, n % 3 ? 48 : 16, 0);
  uint64_t state = n * 0x9E3779B97F4A7C15u + 1;
  for (uint8_t& byte : frame.data) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<uint8_t>(state);
  }
  frame.timestamp_us = checksum(frame.data);
  return frame;
}

TEST(FrameSectionConcurrency, ReaderNeverAcceptsATornFrame) {
  SectionMemory memory;
  const SectionGeometry geometry = adopt_section(memory.data()).value();
  // Made up front so the writer does nothing but publish. Frames three
  // apart share a slot, so each one overwrites a different picture.
  std::vector<Nv12Frame> frames;
  for (uint64_t i = 0; i < 16; ++i) {
    frames.push_back(checksummed(i));
  }
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> published{0};

  std::thread writer([&] {
    for (uint64_t n = 1; !stop.load(std::memory_order_relaxed); ++n) {
      publish_frame(memory.data(), geometry, frames[n % frames.size()], n);
      published.store(n, std::memory_order_relaxed);
    }
  });

  // Until enough copies have been accepted while the writer runs; the cap on
  // attempts only keeps a reader that never wins from spinning for ever.
  uint64_t accepted = 0;
  uint64_t torn = 0;
  uint64_t bad = 0;
  SlotFrame frame;
  frame.data.reserve(geometry.slot_size);
  for (uint64_t attempt = 0; accepted < 5000 && attempt < 50'000'000; ++attempt) {
    switch (copy_newest(memory.data(), geometry, frame)) {
      case SlotCopy::complete:
        ++accepted;
        if (checksum(frame.data) != frame.timestamp_us) {
          ++bad;
        }
        break;
      case SlotCopy::torn:
        ++torn;
        break;
      case SlotCopy::empty:
        break;
      case SlotCopy::malformed:
        ++bad;
        break;
    }
  }
  stop.store(true);
  writer.join();

  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(accepted, 5000u);
  EXPECT_GT(published.load(), 100u);
  RecordProperty("accepted", std::to_string(accepted));
  RecordProperty("torn", std::to_string(torn));
}

}  // namespace
}  // namespace korvex::section
