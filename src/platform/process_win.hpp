#pragma once

// Running another program to its end and collecting what it printed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace korvex::platform {

struct ProcessOutput {
  uint32_t exit_code = 0;
  std::string standard_output;  // the bytes as the program wrote them
  std::string standard_error;
};

// `argument` written so that CommandLineToArgvW (and the C runtime's own
// splitting) reads it back unchanged: put in double quotes when it is empty or
// holds white space or a double quote, or always when `always_quote` is set,
// with its double quotes and the backslashes before them escaped.
std::string quote_argument(std::string_view argument, bool always_quote = false);

// The full path of a program in the system directory (System32), so that a
// same-named program in the current directory is never the one started.
Result<std::string> system_program_path(std::string_view file_name);

// Starts `program` (a full path) with `arguments`, without a console window
// of its own and with an empty standard input, and waits until it ends.
// Fails with the system's error text alone when it cannot be started.
Result<ProcessOutput> run_program(const std::string& program,
                                  const std::vector<std::string>& arguments);

}  // namespace korvex::platform
