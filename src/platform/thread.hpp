#pragma once

// Named, detached threads. The receiver's threads share reference-counted
// objects and never join one another; each lives until its work ends or the
// process exits.

#include <functional>
#include <string>

#include "common/result.hpp"

namespace korvex::platform {

// Starts `body` on a new detached thread named `name`. Fails with the system's
// reason when the thread cannot be created.
Result<void> spawn_thread(std::string name, std::function<void()> body);

// Called by every thread spawn_thread started, once its body has returned.
// On Windows it records the thread as ending, so that exit_process can wait
// for it, or keeps it from ending once exit_process has begun.
void end_spawned_thread();

// Names the calling thread as debuggers and process tools show it.
void set_current_thread_name(const std::string& name);

// Runs the calling thread ahead of ordinary work where the system lets this
// process do so, and otherwise leaves it as it is: for the threads that carry
// the phone's audio, which a busy machine must not hold back for longer than
// the jitter buffer covers. They block on I/O between short bursts of work.
void prioritise_current_thread();

}  // namespace korvex::platform
