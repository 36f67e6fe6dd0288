#include "decoder/start_code.hpp"

#include <algorithm>

namespace korvex::decoder {

bool opens_with_start_code(std::span<const uint8_t> bytes) {
  const auto first = std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; });
  return first - bytes.begin() >= 2 && first != bytes.end() && *first == 1;
}

}  // namespace korvex::decoder
