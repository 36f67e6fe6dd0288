#include <algorithm>
#include <cstring>
#include <iterator>

#include "protocol/wire_parser.hpp"

namespace korvex::protocol {
namespace {

// A buffer grown past this for a large message is given back when it is done;
// smaller ones are kept, as the next message probably needs as much.
constexpr size_t kKeptCapacity = 1024 * 1024;

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

// Decodes one complete message straight from the receive buffer. `keep(skip,
// size)` gives `size` payload bytes from `skip` on to the message that
// carries them;
// messages too short for their type, and unknown types, add nothing.
template <class Keep>
void decode(uint8_t type, uint8_t flags, const uint8_t* payload, size_t length, Keep&& keep,
            std::vector<Message>& out) {
  switch (static_cast<MessageType>(type)) {
    case MessageType::hello:
      out.emplace_back(msg::Hello{keep(0, length)});
      return;
    case MessageType::video:
      if (length < 8) {
        return;
      }
      out.emplace_back(
          msg::Video{read_u64(payload), keep(8, length - 8), (flags & kFlagKeyframe) != 0});
      return;
    case MessageType::control:
      out.emplace_back(msg::Control{keep(0, length)});
      return;
    case MessageType::audio:
      if (length < 8) {
        return;
      }
      // The timestamp is not used; a trailing odd byte is not a sample.
      out.emplace_back(msg::Audio{keep(8, (length - 8) & ~size_t{1}), (flags & kFlagSilent) != 0});
      return;
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

size_t Parser::capacity_for(size_t size) const {
  return pending_ > 0 ? std::max(pending_, size) : end_ - begin_ + size;
}

void Parser::reallocate(size_t capacity) {
  // No zeroing: bytes are received into it. The padding lets a payload at
  // the end be handed over in place.
  std::unique_ptr<uint8_t[]> fresh(new uint8_t[capacity + kPayloadPadding]);
  const size_t waiting = end_ - begin_;
  if (waiting > 0) {
    std::memcpy(fresh.get(), storage_.get() + begin_, waiting);
  }
  storage_ = std::move(fresh);
  capacity_ = capacity;
  begin_ = 0;
  end_ = waiting;
}

bool Parser::fills_storage(size_t message) const {
  return message > receive_size_ && 2 * message >= capacity_;
}

Payload Parser::hand_over(size_t at, size_t size, size_t message_end) {
  std::unique_ptr<uint8_t[]> block = std::move(storage_);
  const size_t rest = end_ - message_end;  // at most one receive
  capacity_ = rest + receive_size_;
  storage_.reset(new uint8_t[capacity_ + kPayloadPadding]);
  if (rest > 0) {
    std::memcpy(storage_.get(), block.get() + message_end, rest);
  }
  begin_ = 0;
  end_ = rest;
  return Payload::adopt(std::move(block), at, size);
}

std::span<uint8_t> Parser::receive_space(size_t size) {
  receive_size_ = size;
  const size_t waiting = end_ - begin_;
  const size_t room = pending_ > 0 ? std::min(size, pending_ - waiting) : size;
  if (capacity_ - end_ < room) {
    if (capacity_ - waiting >= room) {
      // Room enough once the parsed bytes are gone: move the rest down, at
      // most one incomplete message.
      std::memmove(storage_.get(), storage_.get() + begin_, waiting);
      begin_ = 0;
      end_ = waiting;
    } else {
      // Grown once to the whole message, so a large message arriving in
      // small receives is not copied again for each of them.
      reallocate(capacity_for(size));
    }
  }
  return {storage_.get() + end_, capacity_ - end_};
}

std::vector<Message> Parser::commit(size_t received) {
  end_ += received;
  std::vector<Message> out;
  const uint8_t* data = storage_.get();
  size_t p = begin_;
  pending_ = 0;
  while (end_ - p >= kHeaderSize) {
    // Resynchronise: skip to the next offset where a whole header could hold the magic.
    p = find_magic(data, p, end_ - kHeaderSize + 1);
    if (p + kHeaderSize > end_) {
      break;
    }
    const uint32_t length = read_u32(data + p + 8);
    if (length > kMaxPayload) {
      // Nothing after a corrupt length can be trusted; the next message is found
      // by its magic in the bytes still to come.
      p = end_;
      break;
    }
    if (end_ - p - kHeaderSize < length) {
      pending_ = kHeaderSize + length;  // incomplete: waits for more bytes
      break;
    }
    const size_t message_end = p + kHeaderSize + length;
    bool handed_over = false;
    auto keep = [&](size_t skip, size_t size) {
      const size_t at = p + kHeaderSize + skip;
      if (fills_storage(kHeaderSize + length)) {
        handed_over = true;
        return hand_over(at, size, message_end);
      }
      return Payload::copy_of({data + at, size});
    };
    decode(data[p + 4], data[p + 5], data + p + kHeaderSize, length, keep, out);
    if (handed_over) {
      data = storage_.get();  // what followed the message is now at the front
      p = 0;
    } else {
      p = message_end;
    }
  }
  begin_ = p;
  if (begin_ == end_) {
    begin_ = end_ = 0;  // nothing waits: the next receive starts at the front
  }
  if (capacity_ > kKeptCapacity && capacity_for(receive_size_) < capacity_) {
    reallocate(capacity_for(receive_size_));  // the large message is done
  }
  return out;
}

std::vector<Message> Parser::feed(std::span<const uint8_t> bytes) {
  std::vector<Message> out;
  do {
    const std::span<uint8_t> space = receive_space(bytes.size());
    const size_t n = std::min(space.size(), bytes.size());
    if (n > 0) {
      std::memcpy(space.data(), bytes.data(), n);
    }
    std::vector<Message> batch = commit(n);
    out.insert(out.end(), std::make_move_iterator(batch.begin()),
               std::make_move_iterator(batch.end()));
    bytes = bytes.subspan(n);
  } while (!bytes.empty());
  return out;
}

}  // namespace korvex::protocol
