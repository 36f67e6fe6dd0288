#pragma once

// The process's environment variables, as UTF-8.

#include <optional>
#include <string>

namespace korvex::platform {

// The value of `name`; absent when the variable is unset or its value is not
// valid Unicode (UTF-16 on Windows, UTF-8 on Linux).
std::optional<std::string> environment_variable(const char* name);

}  // namespace korvex::platform
