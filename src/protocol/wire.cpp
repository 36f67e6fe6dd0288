#include <cstring>

#include "protocol/wire.hpp"

namespace korvex::protocol {

std::vector<uint8_t> encode_message(uint8_t type, uint8_t flags, std::span<const uint8_t> payload) {
  std::vector<uint8_t> out(kHeaderSize + payload.size());
  std::memcpy(out.data(), kMagic, 4);
  out[4] = type;
  out[5] = flags;
  out[6] = 0;
  out[7] = 0;
  const auto length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) {
    out[8 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  if (!payload.empty()) {
    std::memcpy(out.data() + kHeaderSize, payload.data(), payload.size());
  }
  return out;
}

}  // namespace korvex::protocol
