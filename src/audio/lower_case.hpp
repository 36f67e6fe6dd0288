#pragma once

// Case folding for matching endpoint names against --device.

#include <string>
#include <string_view>

namespace korvex::audio {

// UTF-8 text lower-cased as code points, so that "ÉCOUTEURS" finds
// "Écouteurs" and "ДИНАМИКИ" finds "Динамики". Covers ASCII, Latin-1, Latin
// Extended-A/-B and Additional, Greek, Cyrillic, Armenian, fullwidth Latin and
// the letter-like symbols that lower to letters, from a small table rather
// than the C library, whose towlower depends on the locale and is 16-bit on
// Windows. "İ" lowers to "i" + combining dot, as full lower-casing wants.
// Bytes that are not valid UTF-8 become U+FFFD.
std::u32string lower_case(std::string_view utf8);

}  // namespace korvex::audio
