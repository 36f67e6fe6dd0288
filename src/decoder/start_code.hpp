#pragma once

#include <cstdint>
#include <span>

namespace korvex::decoder {

// Whether `bytes` open the way every access unit of an H.264 byte stream
// does: any number of zero bytes, at least two, then 01 (a start code, with
// the zero bytes the standard allows before it).
bool opens_with_start_code(std::span<const uint8_t> bytes);

}  // namespace korvex::decoder
