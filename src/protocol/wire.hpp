#pragma once

// The stream between the phone and the receiver. Both directions use the same
// framing, all integers little-endian:
//
//   offset  size  field
//   0       4     magic "KVX1"
//   4       1     type      (MessageType)
//   5       1     flags     (meaning depends on the type)
//   6       2     reserved  (0 when written, ignored when read)
//   8       4     length    payload bytes, at most kMaxPayload
//   12      length payload

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "common/payload.hpp"

namespace korvex::protocol {

inline constexpr uint8_t kMagic[4] = {'K', 'V', 'X', '1'};
inline constexpr size_t kHeaderSize = 12;
inline constexpr uint32_t kMaxPayload = 4 * 1024 * 1024;

enum class MessageType : uint8_t {
  hello = 1,    // phone -> receiver: JSON document
  video = 2,    // phone -> receiver: u64 pts (us), then one H.264 access unit
  control = 3,  // both: JSON document
  audio = 4,    // phone -> receiver: u64 timestamp, then s16 mono 48 kHz samples
  ping = 5,     // both: u64 value
  bye = 6,      // phone -> receiver: end of the connection
};

inline constexpr uint8_t kFlagKeyframe = 0x01;  // video
inline constexpr uint8_t kFlagSilent = 0x02;    // audio
inline constexpr uint8_t kFlagReply = 0x01;     // ping

// A whole message: header and payload.
std::vector<uint8_t> encode_message(uint8_t type, uint8_t flags, std::span<const uint8_t> payload);

namespace msg {
struct Hello {
  Payload json;
};
struct Video {
  uint64_t pts = 0;
  Payload data;
  bool keyframe = false;
};
struct Control {
  Payload payload;
};
struct Audio {
  Payload pcm;  // s16 little-endian samples, so an even number of bytes
  bool silent = false;
};
struct Ping {
  uint64_t value = 0;
  bool reply = false;
};
struct Bye {};
}  // namespace msg

// The receiver's only Control document: "send a keyframe soon".
inline constexpr std::string_view kKeyframeRequest = R"({"cmd":"keyframe"})";

using Message = std::variant<msg::Hello, msg::Video, msg::Control, msg::Audio, msg::Ping, msg::Bye>;

}  // namespace korvex::protocol
