#include "main/number_syntax.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace korvex::main {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != lower[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<double> parse_decimal(std::string_view text) {
  bool negative = false;
  std::string_view body = text;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(body, "nan")) {
    return std::numeric_limits<double>::quiet_NaN();
  }

  // Validate the decimal form ourselves: from_chars would also take forms such
  // as "nan(1)" that are not numbers here, and it reports out-of-range values
  // without saying which way they went.
  size_t i = 0;
  size_t integer_digits = 0;             // significant digits before the point
  long long leading_fraction_zeros = 0;  // zeros after the point before the first non-zero
  bool any_digit = false;
  bool nonzero_seen = false;
  while (i < body.size() && is_digit(body[i])) {
    any_digit = true;
    if (body[i] != '0' || nonzero_seen) {
      nonzero_seen = true;
      ++integer_digits;
    }
    ++i;
  }
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && is_digit(body[i])) {
      any_digit = true;
      if (body[i] != '0') {
        nonzero_seen = true;
      } else if (!nonzero_seen) {
        ++leading_fraction_zeros;
      }
      ++i;
    }
  }
  if (!any_digit) {
    return std::nullopt;
  }
  long long exponent = 0;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      exponent_negative = body[i] == '-';
      ++i;
    }
    if (i == body.size() || !is_digit(body[i])) {
      return std::nullopt;
    }
    while (i < body.size() && is_digit(body[i])) {
      if (exponent < 1'000'000'000) {
        exponent = exponent * 10 + (body[i] - '0');
      }
      ++i;
    }
    if (exponent_negative) {
      exponent = -exponent;
    }
  }
  if (i != body.size()) {
    return std::nullopt;
  }
  if (!nonzero_seen) {
    return sign * 0.0;
  }

  double value = 0.0;
  const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // The position of the first significant digit tells overflow from underflow.
    const long long magnitude =
        (integer_digits > 0 ? static_cast<long long>(integer_digits) : -leading_fraction_zeros) +
        exponent;
    return magnitude > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
  }
  if (ec != std::errc() || end != body.data() + body.size()) {
    return std::nullopt;
  }
  return sign * value;
}

std::optional<uint32_t> parse_count(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) {
      return std::nullopt;
    }
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > std::numeric_limits<uint32_t>::max()) {
      return std::nullopt;
    }
  }
  return static_cast<uint32_t>(value);
}

}  // namespace korvex::main
