#pragma once

// --autostart on|off: registers the receiver to start at logon with the
// options of `settings`, or removes that registration, and prints one line.

#include "main/settings.hpp"

namespace korvex::main {

// Returns the exit status: 0 on success, 1 on failure.
int set_autostart(const Settings& settings, bool on);

}  // namespace korvex::main
