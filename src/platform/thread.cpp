#include "platform/thread.hpp"

#include <system_error>
#include <thread>

namespace korvex::platform {

Result<void> spawn_thread(std::string name, std::function<void()> body) {
  try {
    std::thread([name = std::move(name), body = std::move(body)] {
      set_current_thread_name(name);
      body();
      end_spawned_thread();
    }).detach();
  } catch (const std::system_error& e) {
    return fail(e.what());
  }
  return {};
}

}  // namespace korvex::platform
