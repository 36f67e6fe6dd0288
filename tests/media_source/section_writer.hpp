#pragma once

// Frames into the real frame section, as the receiver writes them, and the
// test pictures the tests write.

#include <cstdint>
#include <optional>

#include "common/nv12_frame.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"

namespace korvex::media_source::test {

class SectionWriter {
 public:
  // Maps the section read/write, creating it when missing, and adopts it;
  // nothing (and a test failure) when that fails.
  static std::optional<SectionWriter> open();

  // Publishes `frame` as the newest, stamped with the section's clock now.
  void publish(const Nv12Frame& frame);

 private:
  SectionWriter(section::MappedSection section, section::SectionGeometry geometry)
      : section_(std::move(section)), geometry_(geometry) {}

  section::MappedSection section_;
  section::SectionGeometry geometry_;
};

// Every luma byte `level`, chroma neutral.
Nv12Frame flat_frame(uint32_t width, uint32_t height, uint8_t level);

// Four flat quadrants, levels[0] top left, [1] top right, [2] bottom left,
// [3] bottom right; chroma neutral.
Nv12Frame quadrant_frame(uint32_t width, uint32_t height, const uint8_t (&levels)[4]);

// Luma (x + 2 y) mod 256, chroma neutral: a copy that shifts or drops a
// pixel anywhere differs.
Nv12Frame ramp_frame(uint32_t width, uint32_t height);

}  // namespace korvex::media_source::test
