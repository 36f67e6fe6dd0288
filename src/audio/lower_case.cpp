#include "audio/lower_case.hpp"

#include <algorithm>
#include <cstdint>

#include "audio/lower_case_table.hpp"

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

char32_t lower_one(char32_t c) {
  const auto runs = lower_case_runs();
  // The last run that starts at or before c.
  auto run =
      std::upper_bound(runs.begin(), runs.end(), c,
                       [](char32_t value, const LowerCaseRun& r) { return value < r.first; });
  if (run == runs.begin()) {
    return c;
  }
  --run;
  if (c > run->last || (c - run->first) % run->stride != 0) {
    return c;
  }
  return static_cast<char32_t>(static_cast<int32_t>(c) + run->delta);
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
