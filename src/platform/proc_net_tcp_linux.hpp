#pragma once

// The kernel's table of TCP sockets (/proc/net/tcp and /proc/net/tcp6), as
// far as finding who listens on a port needs it.

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvex::platform {

// The inodes of the sockets in `table` that listen on local port `port`, in
// the table's order. Lines that do not parse are skipped.
std::vector<uint64_t> listening_socket_inodes(std::string_view table, uint16_t port);

}  // namespace korvex::platform
