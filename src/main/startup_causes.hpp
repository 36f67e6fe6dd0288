#pragma once

// The lines that follow a startup failure's own message and name its cause,
// indented as sub-lines: the message's first line stays as it is.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/listening_processes.hpp"

namespace korvex::main {

// Who holds the port the listener could not bind, where the system tells;
// empty when nobody listens on it (the bind failed for another reason).
std::string port_holder_lines(uint16_t port,
                              const std::vector<platform::ListeningProcess>& holders);

// `causes` as sub-lines.
std::string cause_lines(const std::vector<std::string>& causes);

}  // namespace korvex::main
