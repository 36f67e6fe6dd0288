#include "platform/utf8.hpp"

#include <cstdint>

namespace korvex::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The length of the well-formed sequence at the front of `text`, or 0 when
// its first byte does not start one.
size_t sequence_length(std::string_view text) {
  const auto lead = static_cast<uint8_t>(text[0]);
  size_t length = 0;
  uint32_t code = 0;
  if (lead < 0x80) {
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<uint8_t>(text[k]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    c = kReplacement;
  }
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  while (!text.empty()) {
    const size_t length = sequence_length(text);
    if (length == 0) {
      return false;
    }
    text.remove_prefix(length);
  }
  return true;
}

std::string replace_invalid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t length = sequence_length(text);
    if (length == 0) {
      append_utf8(out, kReplacement);
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : text) {
    append_utf8(out, c);
  }
  return out;
}

}  // namespace korvex::platform
