// libFuzzer harness for the stream parser. Besides running clean under
// AddressSanitizer and UndefinedBehaviorSanitizer, every input must satisfy:
//
// - Feeding it in pieces yields the messages of feeding it whole, with one
//   exception: a length above the limit clears only what has arrived so far, so
//   later pieces still yield messages that a whole feed loses. The whole-feed
//   messages are therefore always a prefix of the piecewise ones, and equal to
//   them when no header with such a length appears anywhere in the input.
// - Messages are disjoint stretches of the input, so the bytes each one needs
//   on the wire add up to no more than the input.
// - Encoding the decoded messages again and parsing that gives them back.

#include <algorithm>
#include <iterator>
#include <span>
#include <type_traits>
#include <variant>
#include <vector>

#include "fuzz/invariant.hpp"
#include "protocol/message_equality.hpp"
#include "protocol/wire_parser.hpp"

namespace {

using namespace korvex::protocol;
using Bytes = std::vector<uint8_t>;

uint32_t read_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool has_oversize_header(std::span<const uint8_t> input) {
  for (size_t i = 0; i + kHeaderSize <= input.size(); ++i) {
    if (std::equal(kMagic, kMagic + 4, input.begin() + i) &&
        read_u32(&input[i + 8]) > kMaxPayload) {
      return true;
    }
  }
  return false;
}

// Fewest stream bytes that can carry the message.
size_t wire_size(const Message& m) {
  return kHeaderSize + std::visit(
                           [](const auto& x) -> size_t {
                             using T = std::decay_t<decltype(x)>;
                             if constexpr (std::is_same_v<T, msg::Hello>) {
                               return x.json.size();
                             } else if constexpr (std::is_same_v<T, msg::Video>) {
                               return 8 + x.data.size();
                             } else if constexpr (std::is_same_v<T, msg::Control>) {
                               return x.payload.size();
                             } else if constexpr (std::is_same_v<T, msg::Audio>) {
                               return 8 + x.pcm.size();
                             } else if constexpr (std::is_same_v<T, msg::Ping>) {
                               return 8;
                             } else {
                               return 0;
                             }
                           },
                           m);
}

void append_u64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) {
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

Bytes encode(const Message& m) {
  return std::visit(
      [](const auto& x) -> Bytes {
        using T = std::decay_t<decltype(x)>;
        Bytes payload;
        if constexpr (std::is_same_v<T, msg::Hello>) {
          return encode_message(1, 0, x.json.bytes());
        } else if constexpr (std::is_same_v<T, msg::Video>) {
          append_u64(payload, x.pts);
          payload.insert(payload.end(), x.data.bytes().begin(), x.data.bytes().end());
          return encode_message(2, x.keyframe ? kFlagKeyframe : 0, payload);
        } else if constexpr (std::is_same_v<T, msg::Control>) {
          return encode_message(3, 0, x.payload.bytes());
        } else if constexpr (std::is_same_v<T, msg::Audio>) {
          append_u64(payload, 0);
          payload.insert(payload.end(), x.pcm.bytes().begin(), x.pcm.bytes().end());
          return encode_message(4, x.silent ? kFlagSilent : 0, payload);
        } else if constexpr (std::is_same_v<T, msg::Ping>) {
          append_u64(payload, x.value);
          return encode_message(5, x.reply ? kFlagReply : 0, payload);
        } else {
          return encode_message(6, 0, {});
        }
      },
      m);
}

// Piece sizes come from the input itself, so every run of an input is the same:
// single bytes, short runs, receive-sized runs and everything left.
std::vector<Message> feed_in_pieces(std::span<const uint8_t> input) {
  uint64_t state = 0xcbf29ce484222325;
  for (uint8_t b : input) {
    state = (state ^ b) * 0x100000001b3;
  }
  Parser parser;
  std::vector<Message> out;
  size_t at = 0;
  while (at < input.size()) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const size_t left = input.size() - at;
    const size_t limit = (state & 3) == 0   ? 1
                         : (state & 3) == 1 ? 16
                         : (state & 3) == 2 ? 1500
                                            : left;
    const size_t piece = std::min(left, 1 + static_cast<size_t>(state >> 8) % limit);
    auto batch = parser.feed(input.subspan(at, piece));
    out.insert(out.end(), std::make_move_iterator(batch.begin()),
               std::make_move_iterator(batch.end()));
    at += piece;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const std::vector<Message> whole = Parser().feed(input);
  const std::vector<Message> pieces = feed_in_pieces(input);

  CHECK(whole.size() <= pieces.size());
  CHECK(std::equal(whole.begin(), whole.end(), pieces.begin()));
  if (!has_oversize_header(input)) {
    CHECK(whole.size() == pieces.size());
  }

  for (const auto* messages : {&whole, &pieces}) {
    size_t used = 0;
    for (const Message& m : *messages) {
      used += wire_size(m);
    }
    CHECK(used <= size);
  }

  Bytes again;
  for (const Message& m : whole) {
    const Bytes bytes = encode(m);
    again.insert(again.end(), bytes.begin(), bytes.end());
  }
  CHECK(Parser().feed(again) == whole);
  return 0;
}
