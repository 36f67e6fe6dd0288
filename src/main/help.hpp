#pragma once

#include <string>

namespace korvex::main {

// The help text, every line ending with a newline.
std::string help_text();

// Writes the help text to standard output.
void print_help();

}  // namespace korvex::main
