#pragma once

// The system's socket address types, for the two socket implementations.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <string>

namespace korvex::platform {

// "[::ffff:192.168.1.20]:54321" (with "%scope" for a scoped IPv6 address),
// or "192.168.1.20:54321" for an IPv4 one.
std::string address_text(const sockaddr_storage& address);

}  // namespace korvex::platform
