#include <pthread.h>
#include <sched.h>

#include "platform/thread.hpp"

namespace korvex::platform {

// exit_process ends every thread at once in the kernel: nothing to wait for.
void end_spawned_thread() {}

void set_current_thread_name(const std::string& name) {
  // Linux keeps at most 15 characters of a thread name.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

void prioritise_current_thread() {
  // The lowest real-time priority: ahead of every ordinary thread, behind the
  // sound server's own real-time threads, which must run for our audio to
  // play. Refused without CAP_SYS_NICE or an RLIMIT_RTPRIO; the kernel's
  // real-time throttling keeps a runaway thread from taking a whole CPU.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_RR);
  pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

}  // namespace korvex::platform
