#include "main/autostart_reg.hpp"

#include "audio/lower_case.hpp"
#include "platform/utf8.hpp"

namespace korvex::main {
namespace {

std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::string_view message(std::string_view standard_output, std::string_view standard_error) {
  return trim(standard_error).empty() ? standard_output : standard_error;
}

}  // namespace

std::vector<std::string> reg_add_arguments(const std::string& command_line) {
  return {"add", kRunKey, "/v", kRunValue, "/t", "REG_SZ", "/d", command_line, "/f"};
}

std::vector<std::string> reg_delete_arguments() {
  return {"delete", kRunKey, "/v", kRunValue, "/f"};
}

std::optional<std::string> reg_add_failure(uint32_t exit_code, std::string_view standard_output,
                                           std::string_view standard_error) {
  if (exit_code == 0) {
    return std::nullopt;
  }
  return std::string(
      trim(platform::replace_invalid_utf8(message(standard_output, standard_error))));
}

std::optional<std::string> reg_delete_failure(uint32_t exit_code, std::string_view standard_output,
                                              std::string_view standard_error) {
  // Decoding replaces invalid bytes on the way.
  const std::string lowered =
      platform::encode_utf8(audio::lower_case(message(standard_output, standard_error)));
  // A value that was never registered counts as removed.
  if (exit_code == 0 || lowered.find("unable to find") != std::string::npos) {
    return std::nullopt;
  }
  return std::string(trim(lowered));
}

}  // namespace korvex::main
