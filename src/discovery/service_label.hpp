#pragma once

// The name the receiver is advertised under: the instance name and the first
// label of its host name.

#include <optional>
#include <string>

namespace korvex::discovery {

inline constexpr const char* kFallbackLabel = "Korvex-PC";

// From COMPUTERNAME, or HOSTNAME when COMPUTERNAME is absent (a set but empty
// COMPUTERNAME is taken): the part before the first ".", every character
// that is not an ASCII letter or digit replaced by "-", leading and trailing
// "-" removed; kFallbackLabel when nothing is left. Values are UTF-8.
std::string service_label(const std::optional<std::string>& computername,
                          const std::optional<std::string>& hostname);

}  // namespace korvex::discovery
