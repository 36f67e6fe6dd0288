#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <fmt/format.h>

#include "platform/os_error.hpp"
#include "platform/socket.hpp"
#include "platform/socket_address.hpp"

namespace korvex::platform {
namespace {

constexpr int kIpv6Backlog = 4;
constexpr int kIpv4Backlog = 128;

Error socket_error(int code) {
  return fail(os_error_text(code));
}

// Failures are ignored by every caller: the socket works without the option.
void set_option(const Socket& socket, int level, int name, const void* value, socklen_t size) {
  (void)::setsockopt(socket.native(), level, name, value, size);
}

void set_int_option(const Socket& socket, int level, int name, int value) {
  set_option(socket, level, name, &value, sizeof value);
}

timeval to_timeval(uint32_t ms) {
  return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
}

Socket new_tcp_socket(int family) {
  Socket socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (socket.valid()) {
    // Lets a restarted receiver bind while connections of the previous run
    // linger in TIME_WAIT, as Windows allows by default. A port another
    // program listens on still reports "address in use".
    set_int_option(socket, SOL_SOCKET, SO_REUSEADDR, 1);
  }
  return socket;
}

Result<Socket> listen_ipv4(uint16_t port) {
  Socket socket = new_tcp_socket(AF_INET);
  if (!socket.valid()) {
    return socket_error(errno);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket.native(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket.native(), kIpv4Backlog) != 0) {
    return socket_error(errno);
  }
  return socket;
}

}  // namespace

void Socket::close() {
  if (handle_ != kNoSocket) {
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    ::close(handle_);
    handle_ = kNoSocket;
  }
}

AcceptFailure classify_accept_error(int code) {
  switch (code) {
    // The connection was reset or aborted while it waited in the backlog, or
    // (as accept(2) says Linux does) a network error pending on the new
    // socket is reported here.
    case ECONNABORTED:
    case ECONNRESET:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENONET:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
    case ETIMEDOUT:
    case EAGAIN:
      return AcceptFailure::peer;
    case EBADF:
    case ENOTSOCK:
    case EINVAL:
    case EFAULT:
      return AcceptFailure::listener;
    default:
      // EMFILE, ENFILE, ENOBUFS, ENOMEM, and anything unforeseen: worth
      // another try after a pause rather than the end of the receiver.
      return AcceptFailure::resources;
  }
}

AcceptResult Socket::accept() const {
  for (;;) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    const int fd = ::accept4(handle_, reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC);
    if (fd >= 0) {
      return Accepted{Socket(fd), address_text(address)};
    }
    const int code = errno;
    if (code != EINTR) {
      return AcceptError{classify_accept_error(code), os_error_text(code)};
    }
  }
}

void Socket::set_connection_options(uint32_t receive_timeout_ms, uint32_t send_timeout_ms) const {
  set_int_option(*this, IPPROTO_TCP, TCP_NODELAY, 1);
  const timeval receive = to_timeval(receive_timeout_ms);
  set_option(*this, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
  const timeval send = to_timeval(send_timeout_ms);
  set_option(*this, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
}

Result<size_t> Socket::receive(std::span<uint8_t> buffer) const {
  for (;;) {
    const ssize_t n = ::recv(handle_, buffer.data(), buffer.size(), 0);
    if (n >= 0) {
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) {
      return socket_error(errno);
    }
  }
}

Result<void> Socket::send_all(std::span<const uint8_t> bytes, uint32_t timeout_ms) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!bytes.empty()) {
    // Each send takes what fits without waiting; the waiting happens in poll,
    // against what is left of the one deadline.
    // MSG_NOSIGNAL: a phone that has gone is an error here, not a SIGPIPE.
    const ssize_t n = ::send(handle_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return socket_error(errno);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return socket_error(ETIMEDOUT);
    }
    pollfd writable{handle_, POLLOUT, 0};
    if (::poll(&writable, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      return socket_error(errno);
    }
  }
  return {};
}

void Socket::shutdown_both() const {
  ::shutdown(handle_, SHUT_RDWR);
}

Result<Socket> Socket::duplicate() const {
  const int fd = ::fcntl(handle_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    return socket_error(errno);
  }
  return Socket(fd);
}

Result<Socket> listen_tcp(uint16_t port) {
  Socket socket = new_tcp_socket(AF_INET6);
  if (!socket.valid()) {
    return listen_ipv4(port);
  }
  set_int_option(socket, IPPROTO_IPV6, IPV6_V6ONLY, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  address.sin6_addr = in6addr_any;
  if (::bind(socket.native(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int code = errno;
    if (code == EADDRINUSE) {
      return socket_error(code);
    }
    socket.close();
    return listen_ipv4(port);
  }
  if (::listen(socket.native(), kIpv6Backlog) != 0) {
    return socket_error(errno);
  }
  return socket;
}

}  // namespace korvex::platform
