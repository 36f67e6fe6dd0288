#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/wire.hpp"

namespace korvex::protocol {

// Cuts one connection's byte stream into messages. Bytes that do not start a
// message are skipped one at a time until the magic is found; a length above
// kMaxPayload clears everything buffered; messages too short for their type,
// and unknown types, are dropped without a word.
class Parser {
 public:
  // Appends `bytes` and returns every complete message, in stream order.
  std::vector<Message> feed(std::span<const uint8_t> bytes);

 private:
  std::vector<uint8_t> buffer_;
};

}  // namespace korvex::protocol
