#pragma once

// The command line registered to start the receiver at logon.

#include <string>
#include <string_view>

#include "main/settings.hpp"

namespace korvex::main {

// The shortest decimal text that reads back as the same value, never in
// exponent form: 2 for 2.0, 1.5, 0.25, 0.0000001 for 1e-7.
std::string shortest_decimal(float value);
std::string shortest_decimal(double value);

// Puts one argument in the quotes of the system that will split the command line.
using QuoteArgument = std::string (*)(std::string_view argument);

// `program` and " --background", then the options of `settings` that differ
// from their defaults: --device, --gain, --prefill-ms, --no-mdns, --no-vcam,
// --no-audio, in that order. The program's path and the device name are
// always quoted with `quote`; numbers and flags need no quotes. The probe's
// options, the frame dump and the autostart request itself are never written.
std::string autostart_command_line(std::string_view program, const Settings& settings,
                                   QuoteArgument quote);

}  // namespace korvex::main
