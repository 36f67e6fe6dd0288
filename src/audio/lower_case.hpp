#pragma once

// Case folding for matching endpoint names against --device.

#include <string>
#include <string_view>

namespace korvex::audio {

// UTF-8 text lower-cased code point by code point with Unicode's full
// lower-case mapping (lower_case_table.cpp, generated from the Unicode data by
// tools/lower_case_table.py), so that "ÉCOUTEURS" finds "Écouteurs" and
// "ДИНАМИКИ" finds "Динамики" on both systems alike; the C library's towlower
// depends on the locale and is 16-bit on Windows. "İ" lowers to "i" plus a
// combining dot; capital sigma always lowers to "σ", never to the word-final
// "ς", so that a request matches wherever it cuts a word. Bytes that are not
// valid UTF-8 become U+FFFD.
std::u32string lower_case(std::string_view utf8);

}  // namespace korvex::audio
