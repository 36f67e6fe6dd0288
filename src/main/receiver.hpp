#pragma once

#include "main/settings.hpp"

namespace korvex::main {

// The receiving mode: brings the components up in order, then prints the
// status line once a second until a console event ends the process.
[[noreturn]] void run_receiver(const Settings& settings);

}  // namespace korvex::main
