#include <winsock2.h>
// winsock2.h must come before the other Windows headers.
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include <fmt/format.h>

#include "platform/os_error.hpp"
#include "platform/socket.hpp"
#include "platform/socket_address.hpp"

namespace korvex::platform {
namespace {

constexpr int kIpv6Backlog = 4;
constexpr int kIpv4Backlog = 128;

// Overlapped, as SO_RCVTIMEO and SO_SNDTIMEO only work on such sockets;
// never inherited by child processes.
constexpr DWORD kSocketFlags = WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT;

Error socket_error(int code) {
  return fail(os_error_text(code));
}

Error last_socket_error() {
  return socket_error(WSAGetLastError());
}

SOCKET raw(const Socket& socket) {
  return static_cast<SOCKET>(socket.native());
}

// Failures are ignored by every caller: the socket works without the option.
void set_option(const Socket& socket, int level, int name, DWORD value) {
  (void)::setsockopt(raw(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// Winsock is started once for the process and never cleaned up: sockets live
// until the process ends.
int start_winsock() {
  static const int status = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return status;
}

Socket new_tcp_socket(int family) {
  return Socket(WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, kSocketFlags));
}

Result<Socket> listen_ipv4(uint16_t port) {
  Socket socket = new_tcp_socket(AF_INET);
  if (!socket.valid()) {
    return last_socket_error();
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(raw(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(raw(socket), kIpv4Backlog) != 0) {
    return last_socket_error();
  }
  return socket;
}

}  // namespace

void Socket::close() {
  if (handle_ != kNoSocket) {
    ::closesocket(static_cast<SOCKET>(handle_));
    handle_ = kNoSocket;
  }
}

AcceptFailure classify_accept_error(int code) {
  switch (code) {
    // The peer reset or abandoned the connection while it waited in the backlog.
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAETIMEDOUT:
    case WSAEWOULDBLOCK:
      return AcceptFailure::peer;
    case WSAENOTSOCK:
    case WSAEINVAL:
    case WSAEFAULT:
    case WSAEOPNOTSUPP:
    case WSANOTINITIALISED:
      return AcceptFailure::listener;
    default:
      // WSAEMFILE, WSAENOBUFS, WSAENETDOWN, and anything unforeseen: worth
      // another try after a pause rather than the end of the receiver.
      return AcceptFailure::resources;
  }
}

AcceptResult Socket::accept() const {
  for (;;) {
    sockaddr_storage address{};
    int size = sizeof address;
    const SOCKET accepted = ::accept(raw(*this), reinterpret_cast<sockaddr*>(&address), &size);
    if (accepted != INVALID_SOCKET) {
      // Accepted sockets take the listener's attributes; make sure of the one
      // that matters, as the program never hands a socket to a child.
      SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
      return Accepted{Socket(accepted), address_text(address)};
    }
    const int code = WSAGetLastError();
    if (code != WSAEINTR) {
      return AcceptError{classify_accept_error(code), os_error_text(code)};
    }
  }
}

void Socket::set_connection_options(uint32_t receive_timeout_ms, uint32_t send_timeout_ms) const {
  set_option(*this, IPPROTO_TCP, TCP_NODELAY, TRUE);
  set_option(*this, SOL_SOCKET, SO_RCVTIMEO, receive_timeout_ms);
  set_option(*this, SOL_SOCKET, SO_SNDTIMEO, send_timeout_ms);
}

Result<size_t> Socket::receive(std::span<uint8_t> buffer) const {
  const int size = static_cast<int>(std::min<size_t>(buffer.size(), INT_MAX));
  for (;;) {
    const int n = ::recv(raw(*this), reinterpret_cast<char*>(buffer.data()), size, 0);
    if (n != SOCKET_ERROR) {
      return static_cast<size_t>(n);
    }
    const int code = WSAGetLastError();
    if (code != WSAEINTR) {
      return socket_error(code);
    }
  }
}

Result<void> Socket::send_all(std::span<const uint8_t> bytes, uint32_t timeout_ms) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!bytes.empty()) {
    // The socket's send time-out bounds one call; setting it to what is left
    // before every call makes it bound the whole write.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return socket_error(WSAETIMEDOUT);
    }
    set_option(*this, SOL_SOCKET, SO_SNDTIMEO, static_cast<DWORD>(left.count()));
    const int size = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX));
    const int n = ::send(raw(*this), reinterpret_cast<const char*>(bytes.data()), size, 0);
    if (n == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      if (code == WSAEINTR) {
        continue;
      }
      return socket_error(code);
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

void Socket::shutdown_both() const {
  if (!valid()) {
    return;
  }
  ::shutdown(raw(*this), SD_BOTH);
  // A receive already waiting on another handle of the socket is not woken
  // by the shutdown under Wine; cancelling the socket's pending I/O is.
  CancelIoEx(reinterpret_cast<HANDLE>(handle_), nullptr);
}

Result<Socket> Socket::duplicate() const {
  WSAPROTOCOL_INFOW info{};
  if (WSADuplicateSocketW(raw(*this), GetCurrentProcessId(), &info) != 0) {
    return last_socket_error();
  }
  Socket copy(WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                         kSocketFlags));
  if (!copy.valid()) {
    return last_socket_error();
  }
  return copy;
}

Result<Socket> listen_tcp(uint16_t port) {
  if (const int status = start_winsock(); status != 0) {
    return socket_error(status);
  }
  Socket socket = new_tcp_socket(AF_INET6);
  if (!socket.valid()) {
    return listen_ipv4(port);
  }
  set_option(socket, IPPROTO_IPV6, IPV6_V6ONLY, FALSE);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  address.sin6_addr = in6addr_any;
  if (::bind(raw(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int code = WSAGetLastError();
    if (code == WSAEADDRINUSE) {
      return socket_error(code);
    }
    socket.close();
    return listen_ipv4(port);
  }
  if (::listen(raw(socket), kIpv6Backlog) != 0) {
    return last_socket_error();
  }
  return socket;
}

}  // namespace korvex::platform
