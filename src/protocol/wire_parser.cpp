#include <cstring>

#include "protocol/wire_parser.hpp"

namespace korvex::protocol {
namespace {

uint32_t read_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t read_u64(const uint8_t* p) {
  return static_cast<uint64_t>(read_u32(p)) | static_cast<uint64_t>(read_u32(p + 4)) << 32;
}

// Where the next magic could start at or after `from`, or `end` when the bytes
// up to it cannot start one. Jumping to the next 'K' gives the same result as
// testing every offset, without the per-byte cost over long stretches of garbage.
size_t find_magic(const uint8_t* data, size_t from, size_t end) {
  while (from < end) {
    const auto* k = static_cast<const uint8_t*>(std::memchr(data + from, kMagic[0], end - from));
    if (k == nullptr) {
      return end;
    }
    from = static_cast<size_t>(k - data);
    if (std::memcmp(data + from, kMagic, sizeof kMagic) == 0) {
      return from;
    }
    ++from;
  }
  return end;
}

// Decodes one complete message straight from the receive buffer, copying the
// bytes it keeps exactly once. Messages too short for their type, and unknown
// types, add nothing.
void decode(uint8_t type, uint8_t flags, const uint8_t* payload, size_t length,
            std::vector<Message>& out) {
  switch (static_cast<MessageType>(type)) {
    case MessageType::hello:
      out.emplace_back(msg::Hello{std::vector<uint8_t>(payload, payload + length)});
      return;
    case MessageType::video:
      if (length < 8) {
        return;
      }
      out.emplace_back(msg::Video{read_u64(payload),
                                  std::vector<uint8_t>(payload + 8, payload + length),
                                  (flags & kFlagKeyframe) != 0});
      return;
    case MessageType::control:
      out.emplace_back(msg::Control{std::vector<uint8_t>(payload, payload + length)});
      return;
    case MessageType::audio: {
      if (length < 8) {
        return;
      }
      // The timestamp is not used; a trailing odd byte is not a sample.
      std::vector<int16_t> samples((length - 8) / 2);
      const uint8_t* pcm = payload + 8;
      for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(pcm[2 * i]) |
                                          static_cast<uint16_t>(pcm[2 * i + 1]) << 8);
      }
      out.emplace_back(msg::Audio{std::move(samples), (flags & kFlagSilent) != 0});
      return;
    }
    case MessageType::ping:
      if (length < 8) {
        return;
      }
      out.emplace_back(msg::Ping{read_u64(payload), (flags & kFlagReply) != 0});
      return;
    case MessageType::bye:
      out.emplace_back(msg::Bye{});
      return;
  }
}

}  // namespace

std::vector<Message> Parser::feed(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());

  std::vector<Message> out;
  const uint8_t* data = buffer_.data();
  const size_t size = buffer_.size();
  size_t p = 0;
  while (size - p >= kHeaderSize) {
    // Resynchronise: skip to the next offset where a whole header could hold the magic.
    p = find_magic(data, p, size - kHeaderSize + 1);
    if (p + kHeaderSize > size) {
      break;
    }
    const uint32_t length = read_u32(data + p + 8);
    if (length > kMaxPayload) {
      // Nothing after a corrupt length can be trusted; the next message is found
      // by its magic in the bytes still to come.
      buffer_.clear();
      return out;
    }
    if (size - p - kHeaderSize < length) {
      break;  // incomplete: waits for more bytes
    }
    decode(data[p + 4], data[p + 5], data + p + kHeaderSize, length, out);
    p += kHeaderSize + length;
  }
  // Keep only what is still to be parsed, moved once per batch.
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(p));
  return out;
}

}  // namespace korvex::protocol
