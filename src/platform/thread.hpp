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

// Names the calling thread as debuggers and process tools show it.
void set_current_thread_name(const std::string& name);

}  // namespace korvex::platform
