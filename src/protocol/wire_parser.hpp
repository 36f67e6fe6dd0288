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
// then commit). A message larger than one receive, which has the buffer to
// itself, takes the buffer along as its payload and the parser starts a fresh
// one; smaller payloads are copied out once.
class Parser {
 public:
  // Room for the next receive, right after the bytes still waiting to be
  // parsed: at least `size` bytes, or at least the rest of the message those
  // bytes begin when that is less. Valid until the next call.
  std::span<uint8_t> receive_space(size_t size);

  // Takes the first `received` bytes of the last receive_space and returns
  // every complete message, in stream order.
  std::vector<Message> commit(size_t received);

  // Copies `bytes` in and commits them.
  std::vector<Message> feed(std::span<const uint8_t> bytes);

 private:
  // What the waiting bytes need: room for one receive of `size`, or the
  // whole of the message they begin when that is more.
  size_t capacity_for(size_t size) const;
  void reallocate(size_t capacity);
  // Whether a message of `message` bytes, header included, is to take the
  // storage along: larger than a receive, and at least half the storage, so
  // that a payload never holds much more memory than its own size.
  bool fills_storage(size_t message) const;
  // Gives the storage away as the payload [at, at + size) and moves the bytes
  // after `message_end` into a fresh one.
  Payload hand_over(size_t at, size_t size, size_t message_end);

  // The bytes [begin_, end_) of storage_ wait to be parsed; kPayloadPadding
  // bytes past capacity_ make room for a handed-over payload's padding. The storage
  // grows to the message being received, never past a header and a largest
  // payload (or one receive, if larger), and goes back to one receive's size
  // when a large message is done: a peer announcing large messages on many
  // connections does not leave each holding megabytes.
  std::unique_ptr<uint8_t[]> storage_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  size_t pending_ = 0;       // header and payload of the message at begin_; 0 while unknown
  size_t receive_size_ = 0;  // the last receive's room, asked for in receive_space
};

}  // namespace korvex::protocol
