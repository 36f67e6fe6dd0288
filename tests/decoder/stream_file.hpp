#pragma once

// Test streams on disk, written by the native build and read by the Windows
// tests under Wine (which cannot run libx264's encoder here). Each access
// unit is stored with the picture libavcodec decoded from it, as a hash of
// its luma, so that another decoder can be compared bit for bit.
//
//   record, all little-endian:
//   +0   u32  access unit bytes (n)
//   +4   u64  pts, microseconds
//   +12  u8   keyframe (0 or 1)
//   +13  u32  reference width  } of the picture decoded from this unit;
//   +17  u32  reference height } 0 x 0 when none came out
//   +21  u64  reference luma hash (FNV-1a 64 of width x height bytes)
//   +29  n bytes of Annex-B access unit

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvex::test {

struct StoredUnit {
  std::vector<uint8_t> data;
  uint64_t pts_us = 0;
  bool keyframe = false;
  uint32_t reference_width = 0;
  uint32_t reference_height = 0;
  uint64_t reference_luma_hash = 0;
};

uint64_t luma_hash(std::span<const uint8_t> luma);

bool write_stream_file(const std::string& path, const std::vector<StoredUnit>& units);

// Empty when the file is missing or damaged.
std::optional<std::vector<StoredUnit>> read_stream_file(const std::string& path);

}  // namespace korvex::test
