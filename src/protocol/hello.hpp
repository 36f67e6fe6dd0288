#pragma once

// The phone's hello: the JSON document that opens every connection.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/result.hpp"

namespace korvex::protocol {

// What the phone announces about its audio; 0 and empty when not given.
struct HelloAudio {
  uint32_t rate = 0;
  uint16_t channels = 0;
  std::string format;
};

// The phone's description of itself, the payload of a Hello message. Either
// an object with these keys, or an array of up to 7 values in this order
// (audio likewise: rate, channels, format). Absent fields keep their defaults.
struct Hello {
  std::string name;
  std::string app;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t fps = 0;
  std::string codec;
  HelloAudio audio;
};

// Strict JSON: unknown keys are skipped whatever their value, but duplicate
// keys, null, wrong types, numbers with a fraction or exponent where an
// integer belongs, out-of-range integers, too many array elements and
// anything but whitespace after the document make the whole hello invalid.
Result<Hello> parse_hello(std::span<const uint8_t> payload);

}  // namespace korvex::protocol
