#pragma once

// A machine-readable mark that the phone simulator draws into every picture
// and the frame-section reader reads back: which frame this is and when it was
// sent. 128 bits drawn as a grid of large flat grey luma blocks (32 columns by
// 4 rows at the top of the picture), dark for 0 and light for 1, with neutral
// chroma, so the mark survives H.264 compression and a BT.601/BT.709 colour
// conversion. The last 32 bits check the first 96, so a damaged mark reads as
// unreadable rather than as a wrong frame.
//
//   bits 0-31    frame index
//   bits 32-95   send time, wall-clock microseconds since 1970
//   bits 96-127  check word

#include <cstdint>
#include <optional>

namespace korvex::tools {

struct Stamp {
  uint32_t index = 0;
  uint64_t send_time_us = 0;
};

inline constexpr uint32_t kStampColumns = 32;
inline constexpr uint32_t kStampRows = 4;
inline constexpr uint8_t kStampDark = 48;
inline constexpr uint8_t kStampLight = 208;

// Side of one square block in pixels for a picture of this size; 0 when the
// picture is too small to carry a mark.
uint32_t stamp_block_size(uint32_t width, uint32_t height);

// Draws the mark into the top rows of a luma plane. Does nothing when the
// picture is too small.
void draw_stamp(uint8_t* luma, uint32_t width, uint32_t height, uint32_t stride,
                const Stamp& stamp);

// Sets the chroma under the mark to neutral grey (NV12: interleaved Cb/Cr
// rows of `width` bytes, `height` / 2 of them).
void neutral_stamp_chroma(uint8_t* chroma, uint32_t width, uint32_t height, uint32_t stride);

// Reads the mark back; empty when there is none or it fails its check.
std::optional<Stamp> read_stamp(const uint8_t* luma, uint32_t width, uint32_t height,
                                uint32_t stride);

}  // namespace korvex::tools
