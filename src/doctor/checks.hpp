#pragma once

// The checks in the order a phone and a camera need them, on each system.

#include "doctor/linux_system.hpp"
#include "doctor/report.hpp"
#include "doctor/windows_system.hpp"

namespace korvex::doctor {

void check_windows(WindowsSystem& system, Report& report);
void check_linux(LinuxSystem& system, Report& report);

// This machine's checks, on its own system.
void check_this_system(Report& report);

}  // namespace korvex::doctor
