#pragma once

// Which programs listen on a TCP port, as far as the system tells: the
// receiver's startup and the Korvex check name the one holding 45334.

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace korvex::platform {

struct ListeningProcess {
  uint32_t pid = 0;  // 0 when the system does not say which process
  std::string name;  // the program's file name; empty when it cannot be read
};

// Every process with a socket listening on TCP `port` (IPv4 or IPv6), each
// once, in the system's order. A listener the system names no process for
// (another user's, or outside this process's view) comes as pid 0.
Result<std::vector<ListeningProcess>> tcp_listeners(uint16_t port);

// "korvex-receiver (pid 4242)", "pid 4242" or "a program the system does not name".
std::string describe(const ListeningProcess& process);

// Each of `processes` described as above, joined by ", ".
std::string describe(const std::vector<ListeningProcess>& processes);

// Whether `process` is a receiver: "korvex-receiver", or "korvex-receiver.exe"
// in any letter case.
bool is_receiver(const ListeningProcess& process);

}  // namespace korvex::platform
