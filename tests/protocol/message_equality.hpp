#pragma once

// Field-by-field equality of decoded messages, so whole message lists can be
// compared in tests and in the fuzz harness.

#include <algorithm>

#include "protocol/wire.hpp"

namespace korvex {

inline bool operator==(const Payload& a, const Payload& b) {
  return std::ranges::equal(a.bytes(), b.bytes());
}

}  // namespace korvex

namespace korvex::protocol::msg {

inline bool operator==(const Hello& a, const Hello& b) {
  return a.json == b.json;
}
inline bool operator==(const Video& a, const Video& b) {
  return a.pts == b.pts && a.data == b.data && a.keyframe == b.keyframe;
}
inline bool operator==(const Control& a, const Control& b) {
  return a.payload == b.payload;
}
inline bool operator==(const Audio& a, const Audio& b) {
  return a.pcm == b.pcm && a.silent == b.silent;
}
inline bool operator==(const Ping& a, const Ping& b) {
  return a.value == b.value && a.reply == b.reply;
}
inline bool operator==(const Bye&, const Bye&) {
  return true;
}

}  // namespace korvex::protocol::msg
