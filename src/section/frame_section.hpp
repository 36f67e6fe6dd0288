#pragma once

// The frame section: the named shared memory through which decoded pictures
// leave the receiver for the virtual camera's media source. This file knows
// only the bytes, so it works on any mapped block of kSectionSize bytes whose
// start is 8-byte aligned; the system object behind it is section_mapping.hpp.
//
// All integers are little-endian and unsigned.
//
// Header, at offset 0:
//
//   offset  size  field          meaning
//   ------  ----  -------------  ------------------------------------------
//        0     4  magic          "KVXF" (0x4658564B); 0 = not initialised
//        4     4  version        1
//        8     4  slot_count     1..3 (3 when we initialise)
//       12     4  slot_size      image bytes per slot, <= 3110400, multiple of 8
//       16     8  frame_counter  number of the last frame completely written
//       24     8  activity_tick  writer's last sign of life, ms since boot
//       32    32  reserved       zero
//
// Slot i at 64 + i * (48 + slot_size):
//
//   offset  size       field         meaning
//   ------  ---------  ------------  ---------------------------------------
//        0          8  sequence      2n - 1 while frame n is written, 2n after
//        8          8  timestamp_us  presentation time, phone's clock
//       16          4  width         pixels
//       20          4  height        pixels
//       24          4  format        1 = NV12
//       28          4  stride        = width, both planes
//       32          4  data_size     width * height * 3 / 2
//       36         12  reserved
//       48  slot_size  image         tightly packed NV12, then unused bytes
//
// Frame n goes to slot n mod slot_count. There is no lock between processes:
// a reader trusts a slot only while its sequence is even and unchanged across
// its copy, and frame_counter is stored only after the slot is complete.

#include <bit>
#include <cstdint>
#include <vector>

#include "common/nv12_frame.hpp"
#include "common/picture.hpp"
#include "common/result.hpp"

namespace korvex::section {

static_assert(std::endian::native == std::endian::little,
              "the section's integers are stored in the machine's own order");

inline constexpr uint32_t kSectionMagic = 0x4658564B;  // "KVXF"
inline constexpr uint32_t kSectionVersion = 1;
inline constexpr uint64_t kHeaderSize = 64;
inline constexpr uint64_t kSlotHeaderSize = 48;
inline constexpr uint64_t kMaxSlotCount = 3;
inline constexpr uint64_t kMaxSlotSize = 3110400;  // one 1920 x 1080 NV12 picture
inline constexpr uint64_t kSectionSize =
    kHeaderSize + kMaxSlotCount * (kSlotHeaderSize + kMaxSlotSize);
inline constexpr uint32_t kFormatNv12 = 1;

struct SectionGeometry {
  uint64_t slot_count = 0;
  uint64_t slot_size = 0;
};

// The header's fields as read at one moment (frame_counter and magic with
// acquire loads).
struct SectionHeader {
  uint32_t magic = 0;
  uint32_t version = 0;
  uint32_t slot_count = 0;
  uint32_t slot_size = 0;
  uint64_t frame_counter = 0;
  uint64_t activity_tick = 0;
};

SectionHeader read_header(const uint8_t* section);

// Checks a header in order: magic, version, geometry, alignment. The first
// failing check gives the error text.
Result<SectionGeometry> validate_header(const SectionHeader& header);

// The writer's first look at a mapped section: initialises the header when
// magic reads 0 (3 default slots), otherwise validates it.
Result<SectionGeometry> adopt_section(uint8_t* section);

// Publishes `picture`, packed into NV12 on the way, as the number after the
// section's frame_counter. The caller has checked that it fits a slot.
void publish_frame(uint8_t* section, const SectionGeometry& geometry, const Picture& picture,
                   uint64_t tick);
inline void publish_frame(uint8_t* section, const SectionGeometry& geometry, const Nv12Frame& frame,
                          uint64_t tick) {
  publish_frame(section, geometry, picture_of(frame), tick);
}

void store_activity_tick(uint8_t* section, uint64_t tick);

uint64_t slot_offset(const SectionGeometry& geometry, uint64_t slot);

// ---- Reader's side ---------------------------------------------------------

// One frame copied out of a slot.
struct SlotFrame {
  uint64_t number = 0;
  uint64_t timestamp_us = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> data;  // data_size bytes of NV12
};

enum class SlotCopy {
  complete,   // `out` holds a whole frame
  torn,       // the writer was in the slot during the copy; try again
  empty,      // no frame written yet
  malformed,  // the slot header describes an image the slot cannot hold
};

// Copies one slot under the sequence rule: only while its sequence is even
// and the same before and after the copy. `out.data` is reused, so a reader
// that reserves slot_size bytes once copies without allocating.
SlotCopy copy_slot(const uint8_t* section, const SectionGeometry& geometry, uint64_t slot,
                   SlotFrame& out);

// Copies the newest complete frame: the one frame_counter names, or a newer
// one that has since replaced it in the same slot.
SlotCopy copy_newest(const uint8_t* section, const SectionGeometry& geometry, SlotFrame& out);

}  // namespace korvex::section
