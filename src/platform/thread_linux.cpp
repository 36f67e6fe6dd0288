#include <pthread.h>

#include "platform/thread.hpp"

namespace korvex::platform {

void set_current_thread_name(const std::string& name) {
  // Linux keeps at most 15 characters of a thread name.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace korvex::platform
