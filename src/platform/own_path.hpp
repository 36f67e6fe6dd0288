#pragma once

// Where the running program's file is, for commands that start it again.

#include <string>

#include "common/result.hpp"

namespace korvex::platform {

// The full path of the running executable as UTF-8. On Windows, characters
// that UTF-16 cannot carry over are replaced by U+FFFD. Fails with the
// system's error text alone.
Result<std::string> own_program_path();

}  // namespace korvex::platform
