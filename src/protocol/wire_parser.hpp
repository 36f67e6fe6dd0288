#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "protocol/wire.hpp"

namespace korvex::protocol {

// Cuts one connection's byte stream into messages. Bytes that do not start a
// message are skipped one at a time until the magic is found; a length above
// kMaxPayload clears everything buffered; messages too short for their type,
// and unknown types, are dropped without a word.
//
// A connection receives straight into the parser's buffer (receive_space,
// then commit), so each payload byte is copied once after the socket: into
// the message that carries it.
class Parser {
 public:
  // Room for the next receive, at least `size` bytes, right after the bytes
  // still waiting to be parsed. Valid until the next call.
  std::span<uint8_t> receive_space(size_t size);

  // Takes the first `received` bytes of the last receive_space and returns
  // every complete message, in stream order.
  std::vector<Message> commit(size_t received);

  // Copies `bytes` in and commits them.
  std::vector<Message> feed(std::span<const uint8_t> bytes);

 private:
  // The bytes [begin_, end_) of storage_ wait to be parsed. Never more than a
  // header, a largest payload and one receive, so the storage stays bounded.
  std::unique_ptr<uint8_t[]> storage_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace korvex::protocol
