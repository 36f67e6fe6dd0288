#pragma once

#include <string>
#include <string_view>

namespace korvex::platform {

// True when `text` is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

// `text` with every byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD, for showing what another program printed.
std::string replace_invalid_utf8(std::string_view text);

// Code points as UTF-8; surrogates and values above U+10FFFF become U+FFFD.
std::string encode_utf8(std::u32string_view text);

}  // namespace korvex::platform
