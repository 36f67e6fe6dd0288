#include "frame_stamp.hpp"

namespace korvex::tools {
namespace {

uint32_t check_word(uint32_t index, uint64_t time_us) {
  return 0x4B565853u ^ (index * 0x9E3779B1u) ^ static_cast<uint32_t>(time_us) ^
         (static_cast<uint32_t>(time_us >> 32) * 0x85EBCA6Bu);
}

bool bit_of(const Stamp& s, uint32_t check, uint32_t bit) {
  if (bit < 32) {
    return (s.index >> bit) & 1;
  }
  if (bit < 96) {
    return (s.send_time_us >> (bit - 32)) & 1;
  }
  return (check >> (bit - 96)) & 1;
}

}  // namespace

uint32_t stamp_block_size(uint32_t width, uint32_t height) {
  uint32_t block = width / kStampColumns;
  if (height / (4 * kStampRows) < block) {
    block = height / (4 * kStampRows);  // the mark takes at most a quarter of the height
  }
  block &= ~1u;  // even, so the chroma under a block is whole
  return block >= 4 ? block : 0;
}

void draw_stamp(uint8_t* luma, uint32_t width, uint32_t height, uint32_t stride,
                const Stamp& stamp) {
  const uint32_t block = stamp_block_size(width, height);
  if (block == 0) {
    return;
  }
  const uint32_t check = check_word(stamp.index, stamp.send_time_us);
  for (uint32_t bit = 0; bit < kStampColumns * kStampRows; ++bit) {
    const uint8_t value = bit_of(stamp, check, bit) ? kStampLight : kStampDark;
    const uint32_t x0 = (bit % kStampColumns) * block;
    const uint32_t y0 = (bit / kStampColumns) * block;
    for (uint32_t y = y0; y < y0 + block; ++y) {
      for (uint32_t x = x0; x < x0 + block; ++x) {
        luma[static_cast<size_t>(y) * stride + x] = value;
      }
    }
  }
}

void neutral_stamp_chroma(uint8_t* chroma, uint32_t width, uint32_t height, uint32_t stride) {
  const uint32_t block = stamp_block_size(width, height);
  for (uint32_t y = 0; y < block * kStampRows / 2; ++y) {
    for (uint32_t x = 0; x < block * kStampColumns; ++x) {
      chroma[static_cast<size_t>(y) * stride + x] = 128;
    }
  }
}

std::optional<Stamp> read_stamp(const uint8_t* luma, uint32_t width, uint32_t height,
                                uint32_t stride) {
  const uint32_t block = stamp_block_size(width, height);
  if (block == 0) {
    return std::nullopt;
  }
  Stamp stamp;
  uint32_t check = 0;
  for (uint32_t bit = 0; bit < kStampColumns * kStampRows; ++bit) {
    // The middle half of the block, away from edges that compression blurs.
    const uint32_t x0 = (bit % kStampColumns) * block + block / 4;
    const uint32_t y0 = (bit / kStampColumns) * block + block / 4;
    uint64_t sum = 0;
    uint32_t count = 0;
    for (uint32_t y = y0; y < y0 + block / 2; ++y) {
      for (uint32_t x = x0; x < x0 + block / 2; ++x) {
        sum += luma[static_cast<size_t>(y) * stride + x];
        ++count;
      }
    }
    const bool one = sum > static_cast<uint64_t>(count) * 128;
    if (!one) {
      continue;
    }
    if (bit < 32) {
      stamp.index |= 1u << bit;
    } else if (bit < 96) {
      stamp.send_time_us |= uint64_t{1} << (bit - 32);
    } else {
      check |= 1u << (bit - 96);
    }
  }
  if (check != check_word(stamp.index, stamp.send_time_us)) {
    return std::nullopt;
  }
  return stamp;
}

}  // namespace korvex::tools
