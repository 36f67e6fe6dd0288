#include "section_writer.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace korvex::media_source::test {
namespace {

Nv12Frame neutral_frame(uint32_t width, uint32_t height) {
  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.data.assign(uint64_t{width} * height * 3 / 2, 128);
  return frame;
}

}  // namespace

std::optional<SectionWriter> SectionWriter::open() {
  Result<section::MappedSection> mapped = section::open_or_create_frame_section();
  if (!mapped) {
    ADD_FAILURE() << "mapping the frame section: " << mapped.error();
    return std::nullopt;
  }
  Result<section::SectionGeometry> geometry = section::adopt_section(mapped->get());
  if (!geometry) {
    ADD_FAILURE() << "adopting the frame section: " << geometry.error();
    return std::nullopt;
  }
  return SectionWriter(std::move(mapped.value()), geometry.value());
}

void SectionWriter::publish(const Nv12Frame& frame) {
  section::publish_frame(section_.get(), geometry_, frame, section::activity_tick_now());
}

Nv12Frame flat_frame(uint32_t width, uint32_t height, uint8_t level) {
  Nv12Frame frame = neutral_frame(width, height);
  std::memset(frame.data.data(), level, uint64_t{width} * height);
  return frame;
}

Nv12Frame quadrant_frame(uint32_t width, uint32_t height, const uint8_t (&levels)[4]) {
  Nv12Frame frame = neutral_frame(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      frame.data[uint64_t{y} * width + x] =
          levels[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
    }
  }
  return frame;
}

Nv12Frame ramp_frame(uint32_t width, uint32_t height) {
  Nv12Frame frame = neutral_frame(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      frame.data[uint64_t{y} * width + x] = static_cast<uint8_t>(x + 2 * y);
    }
  }
  return frame;
}

}  // namespace korvex::media_source::test
