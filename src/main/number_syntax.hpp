#pragma once

// Number syntax of the command line, independent of the C locale.

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvex::main {

// A decimal floating-point number: optional sign, digits with an optional
// decimal point, optional exponent; or inf, infinity, nan in any letter case
// with an optional sign. No surrounding spaces. Values beyond the double range
// become infinities, values below it zero. Empty when the text is not a number.
std::optional<double> parse_decimal(std::string_view text);

// An optional "+" followed by decimal digits only, at most 4294967295.
std::optional<uint32_t> parse_count(std::string_view text);

}  // namespace korvex::main
