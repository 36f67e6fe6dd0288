#pragma once

// A frame section in ordinary memory, 8-byte aligned like a mapped view, with
// raw access to its little-endian fields.

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "common/nv12_frame.hpp"
#include "section/frame_section.hpp"

namespace korvex::section {

class SectionMemory {
 public:
  SectionMemory() : words_(std::make_unique<uint64_t[]>(kSectionSize / 8)) {}

  uint8_t* data() { return reinterpret_cast<uint8_t*>(words_.get()); }
  std::vector<uint8_t> bytes() { return std::vector<uint8_t>(data(), data() + kSectionSize); }

  template <class T>
  T get(uint64_t offset) {
    T value;
    std::memcpy(&value, data() + offset, sizeof value);
    return value;
  }
  template <class T>
  void set(uint64_t offset, T value) {
    std::memcpy(data() + offset, &value, sizeof value);
  }

  // A valid header as another program might have written it.
  void write_header(uint32_t slot_count, uint32_t slot_size, uint64_t frame_counter = 0) {
    set<uint32_t>(0, kSectionMagic);
    set<uint32_t>(4, kSectionVersion);
    set<uint32_t>(8, slot_count);
    set<uint32_t>(12, slot_size);
    set<uint64_t>(16, frame_counter);
  }

  uint64_t sequence(uint64_t slot_size, uint64_t slot) {
    return get<uint64_t>(kHeaderSize + slot * (kSlotHeaderSize + slot_size));
  }

 private:
  std::unique_ptr<uint64_t[]> words_;  // zeroed, and aligned as a mapped view is
};

// A packed NV12 frame whose every byte is `fill`.
inline Nv12Frame nv12(uint32_t width, uint32_t height, uint8_t fill, uint64_t timestamp_us = 0) {
  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.timestamp_us = timestamp_us;
  frame.data.assign(uint64_t{width} * height * 3 / 2, fill);
  return frame;
}

}  // namespace korvex::section
