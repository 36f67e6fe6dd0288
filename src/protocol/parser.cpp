#include "protocol/wire.hpp"

namespace korvex::protocol {

// Not written yet: returns nothing.
std::vector<Message> Parser::feed(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return {};
}

}  // namespace korvex::protocol
