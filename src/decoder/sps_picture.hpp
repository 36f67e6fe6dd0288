#pragma once

// The picture geometry that an H.264 sequence parameter set declares: the
// coded size in whole macroblocks and the visible rectangle inside it. A
// 1080p stream is coded as 1920x1088 and cropped to 1920x1080 by its SPS;
// decoders that hand out the coded surface leave the cropping to us.

#include <cstdint>
#include <optional>
#include <span>

namespace korvex::decoder {

// A rectangle inside the coded picture, in luma pixels.
struct VisibleArea {
  uint32_t left = 0;
  uint32_t top = 0;
  uint32_t width = 0;
  uint32_t height = 0;

  bool operator==(const VisibleArea&) const = default;
};

struct SpsPicture {
  uint32_t coded_width = 0;
  uint32_t coded_height = 0;
  VisibleArea visible;

  bool operator==(const SpsPicture&) const = default;
};

// Parses one SPS NAL unit payload: the bytes after the one-byte NAL header,
// still with emulation-prevention bytes. Empty when it is malformed.
std::optional<SpsPicture> parse_sps(std::span<const uint8_t> payload);

// The geometry of the last SPS in an Annex-B access unit; empty when the
// access unit carries none (or only malformed ones).
std::optional<SpsPicture> find_sps_picture(std::span<const uint8_t> access_unit);

}  // namespace korvex::decoder
