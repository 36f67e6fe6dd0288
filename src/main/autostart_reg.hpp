#pragma once

// Windows autostart through the system's reg command: the per-user Run value
// "Korvex", what to ask reg, and what its answer means.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::main {

inline constexpr const char* kRunKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValue = "Korvex";

std::vector<std::string> reg_add_arguments(const std::string& command_line);
std::vector<std::string> reg_delete_arguments();

// reg's message is its standard error; Wine's reg.exe writes every message to
// standard output instead, which then stands in when standard error is empty.

// Empty when reg added the value; otherwise the message to show: reg's
// message as UTF-8 with invalid bytes replaced, trimmed.
std::optional<std::string> reg_add_failure(uint32_t exit_code, std::string_view standard_output,
                                           std::string_view standard_error);

// Empty when the value is gone, including when reg found none to delete;
// otherwise reg's message lower-cased (all of Unicode) and trimmed.
std::optional<std::string> reg_delete_failure(uint32_t exit_code, std::string_view standard_output,
                                              std::string_view standard_error);

}  // namespace korvex::main
