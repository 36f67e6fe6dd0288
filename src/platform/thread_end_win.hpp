#pragma once

// The last moments of the threads spawn_thread started, as the process ends.
// Under Wine, TerminateProcess signals every thread the server still counts
// as running, and one caught half-way through its own exit crashes the whole
// process (a segfault instead of the exit status).

namespace korvex::platform {

// From now on a spawned thread that finishes waits instead of exiting; the
// ones already exiting are waited for, a bounded time. For exit_process.
void settle_spawned_threads();

}  // namespace korvex::platform
