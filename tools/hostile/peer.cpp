#include "peer.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace korvex::hostile {
namespace {

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::optional<Peer> Peer::connect(uint16_t port, std::chrono::milliseconds timeout) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    return std::nullopt;
  }
  Peer peer(fd);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) {
      return std::nullopt;
    }
    pollfd done{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (::poll(&done, 1, static_cast<int>(timeout.count())) != 1 ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      return std::nullopt;
    }
  }
  return peer;
}

Peer& Peer::operator=(Peer&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Peer::~Peer() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool Peer::send(std::span<const uint8_t> bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    const int left = remaining_ms(deadline);
    if (left == 0) {
      return false;
    }
    pollfd writable{fd_, POLLOUT, 0};
    ::poll(&writable, 1, left);
  }
  return true;
}

void Peer::drain() {
  uint8_t sink[4096];
  while (::recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
}

void Peer::shrink_receive_buffer() {
  const int small = 1024;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
}

void Peer::reset() {
  const linger abortive{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  ::close(std::exchange(fd_, -1));
}

bool Peer::vanish() {
  const int on = 1;
  if (::setsockopt(fd_, IPPROTO_TCP, TCP_REPAIR, &on, sizeof on) != 0) {
    return false;
  }
  ::close(std::exchange(fd_, -1));
  return true;
}

}  // namespace korvex::hostile
