#include "connection.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/os_error.hpp"
#include "platform/unique_fd.hpp"

namespace korvex::phone_sim {
namespace {

constexpr int kConnectTimeoutMs = 5000;

Result<void> connect_with_timeout(int fd, const addrinfo& address) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
    return {};
  }
  if (errno != EINPROGRESS) {
    return fail(platform::last_os_error_text());
  }
  pollfd p{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, kConnectTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    return fail(platform::last_os_error_text());
  }
  if (ready == 0) {
    return fail(platform::os_error_text(ETIMEDOUT));
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    return fail(platform::last_os_error_text());
  }
  if (error != 0) {
    return fail(platform::os_error_text(error));
  }
  return {};
}

}  // namespace

std::string endpoint_text(const std::string& host, uint16_t port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

Result<std::unique_ptr<Connection>> Connection::open(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;  // addresses only: no name lookups
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    return fail(std::string("not an IP address (") + ::gai_strerror(rc) + ")");
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);

  platform::UniqueFd fd(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) {
    return fail(platform::last_os_error_text());
  }
  if (auto connected = connect_with_timeout(fd.get(), *found); !connected) {
    return fail(connected.error());
  }
  // Blocking from here on. Small messages (pings, audio) go out at once, and
  // a receiver that stops reading for 10 seconds fails the send instead of
  // hanging the simulator.
  const int one = 1;
  timeval send_timeout{10, 0};
  if (::fcntl(fd.get(), F_SETFL, 0) != 0 ||
      ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
      ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout) != 0) {
    return fail(platform::last_os_error_text());
  }
  return std::unique_ptr<Connection>(new Connection(std::move(fd)));
}

Result<void> Connection::send(std::span<const uint8_t> message) {
  std::lock_guard lock(send_lock_);
  while (!message.empty()) {
    const ssize_t n = ::send(fd_.get(), message.data(), message.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return fail("send: " + platform::last_os_error_text());
    }
    message = message.subspan(static_cast<size_t>(n));
  }
  return {};
}

Result<size_t> Connection::receive(std::span<uint8_t> buffer) {
  while (true) {
    const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    if (n >= 0) {
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) {
      return fail("receive: " + platform::last_os_error_text());
    }
  }
}

void Connection::shutdown() {
  ::shutdown(fd_.get(), SHUT_RDWR);
}

}  // namespace korvex::phone_sim
