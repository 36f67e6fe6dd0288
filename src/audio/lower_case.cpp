#include "audio/lower_case.hpp"

#include <cstdint>

namespace korvex::audio {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from the front of `text` and drops its bytes.
char32_t next_code_point(std::string_view& text) {
  const auto lead = static_cast<uint8_t>(text[0]);
  size_t length = 1;
  char32_t cp = lead;
  char32_t min = 0;
  if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0x80) {
    text.remove_prefix(1);
    return kReplacement;
  }
  if (text.size() < length) {
    text.remove_prefix(1);
    return kReplacement;
  }
  for (size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if ((byte & 0xC0) != 0x80) {
      text.remove_prefix(1);
      return kReplacement;
    }
    cp = (cp << 6) | (byte & 0x3F);
  }
  text.remove_prefix(length);
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return kReplacement;
  }
  return cp;
}

bool between(char32_t c, char32_t first, char32_t last) {
  return c >= first && c <= last;
}

// Blocks where capitals and small letters alternate: the capital is at an
// even (or odd) code point and its small letter follows it.
bool alternating_capital(char32_t c, char32_t first, char32_t last) {
  return between(c, first, last) && (c - first) % 2 == 0;
}

char32_t lower_one(char32_t c) {
  if (c < 0x80) {
    return between(c, 'A', 'Z') ? c + 32 : c;
  }
  // Latin-1 Supplement
  if (between(c, 0xC0, 0xDE) && c != 0xD7) {
    return c + 32;
  }
  // Latin Extended-A
  if (alternating_capital(c, 0x0100, 0x012E) || alternating_capital(c, 0x0132, 0x0136) ||
      alternating_capital(c, 0x0139, 0x0147) || alternating_capital(c, 0x014A, 0x0176) ||
      alternating_capital(c, 0x0179, 0x017D)) {
    return c + 1;
  }
  if (c == 0x0178) {
    return 0x00FF;
  }
  // Latin Extended-B: the regular runs and the digraphs.
  if (c == 0x01C4 || c == 0x01C7 || c == 0x01CA || c == 0x01F1) {
    return c + 2;
  }
  if (c == 0x01C5 || c == 0x01C8 || c == 0x01CB || c == 0x01F2) {
    return c + 1;
  }
  if (alternating_capital(c, 0x01CD, 0x01DB) || alternating_capital(c, 0x01DE, 0x01EE) ||
      alternating_capital(c, 0x01F8, 0x021E) || alternating_capital(c, 0x0222, 0x0232)) {
    return c + 1;
  }
  // Greek
  if (c == 0x0370 || c == 0x0372 || c == 0x0376 || alternating_capital(c, 0x03D8, 0x03EE) ||
      c == 0x03F7 || c == 0x03FA) {
    return c + 1;
  }
  if (c == 0x037F) {
    return 0x03F3;
  }
  if (c == 0x0386) {
    return 0x03AC;
  }
  if (between(c, 0x0388, 0x038A)) {
    return c + 37;
  }
  if (c == 0x038C) {
    return 0x03CC;
  }
  if (between(c, 0x038E, 0x038F)) {
    return c + 63;
  }
  if (between(c, 0x0391, 0x03A1) || between(c, 0x03A3, 0x03AB)) {
    return c + 32;
  }
  if (c == 0x03CF) {
    return 0x03D7;
  }
  if (c == 0x03F4) {
    return 0x03B8;
  }
  if (c == 0x03F9) {
    return 0x03F2;
  }
  if (between(c, 0x03FD, 0x03FF)) {
    return c - 130;
  }
  // Cyrillic
  if (between(c, 0x0400, 0x040F)) {
    return c + 80;
  }
  if (between(c, 0x0410, 0x042F)) {
    return c + 32;
  }
  if (alternating_capital(c, 0x0460, 0x0480) || alternating_capital(c, 0x048A, 0x04BE) ||
      alternating_capital(c, 0x04C1, 0x04CD) || alternating_capital(c, 0x04D0, 0x052E)) {
    return c + 1;
  }
  if (c == 0x04C0) {
    return 0x04CF;
  }
  // Armenian
  if (between(c, 0x0531, 0x0556)) {
    return c + 48;
  }
  // Latin Extended Additional
  if (alternating_capital(c, 0x1E00, 0x1E94) || alternating_capital(c, 0x1EA0, 0x1EFE)) {
    return c + 1;
  }
  if (c == 0x1E9E) {
    return 0x00DF;
  }
  // Letter-like symbols that are letters in disguise.
  if (c == 0x2126) {
    return 0x03C9;
  }
  if (c == 0x212A) {
    return 'k';
  }
  if (c == 0x212B) {
    return 0x00E5;
  }
  // Fullwidth Latin
  if (between(c, 0xFF21, 0xFF3A)) {
    return c + 32;
  }
  return c;
}

}  // namespace

std::u32string lower_case(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const char32_t c = next_code_point(utf8);
    if (c == 0x0130) {
      out += U"i\u0307";
    } else {
      out += lower_one(c);
    }
  }
  return out;
}

}  // namespace korvex::audio
