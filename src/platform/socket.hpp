#pragma once

// TCP sockets as the phone link uses them: one dual-stack listener, accepted
// connections with time-outs, and a second handle to a connection so that the
// reader and the writers each own one. Winsock and BSD sockets behind one
// interface; every error is already the program's "{message} (os error {n})".

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "common/result.hpp"

namespace korvex::platform {

#ifdef _WIN32
using NativeSocket = uintptr_t;  // SOCKET
inline constexpr NativeSocket kNoSocket = ~static_cast<uintptr_t>(0);
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
#endif

struct Accepted;
struct AcceptError;
using AcceptResult = std::variant<Accepted, AcceptError>;

// Owns one socket handle and closes it when it goes.
class Socket {
 public:
  Socket() = default;
  explicit Socket(NativeSocket handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoSocket; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, kNoSocket);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { close(); }

  bool valid() const { return handle_ != kNoSocket; }
  NativeSocket native() const { return handle_; }
  void close();

  // Waits for the next connection. Interrupted calls are retried.
  AcceptResult accept() const;

  // Connection settings of the phone link: no send delay, a receive that
  // gives up after `receive_timeout_ms` of silence and a send that gives up
  // after `send_timeout_ms`. Failures are ignored: the connection works
  // without the option.
  void set_connection_options(uint32_t receive_timeout_ms, uint32_t send_timeout_ms) const;

  // Receives up to buffer.size() bytes; 0 means the peer closed its side.
  // Interrupted calls are retried; a time-out is a failure.
  Result<size_t> receive(std::span<uint8_t> buffer) const;

  // Writes every byte or fails; gives up once the whole write has taken
  // `timeout_ms`, however the peer trickles its reads. Never raises SIGPIPE.
  Result<void> send_all(std::span<const uint8_t> bytes, uint32_t timeout_ms) const;

  // Ends both directions for every handle of this socket; errors ignored.
  void shutdown_both() const;

  // A second, independently closable handle to the same socket.
  Result<Socket> duplicate() const;

 private:
  NativeSocket handle_ = kNoSocket;
};

struct Accepted {
  Socket socket;
  std::string peer;  // "[::ffff:192.168.1.20]:54321", or "192.168.1.20:54321" on IPv4
};

// What a failed accept means for the listening socket.
enum class AcceptFailure {
  peer,       // one connection went before it was accepted; the next may come at once
  resources,  // descriptors or buffers ran out for the moment
  listener,   // the listening socket itself is unusable
};

// Sorts an accept error code of this system (errno, or a Winsock code).
AcceptFailure classify_accept_error(int code);

struct AcceptError {
  AcceptFailure failure = AcceptFailure::listener;
  std::string text;
};

// Listens on every address on `port`: an IPv6 socket that also takes IPv4
// peers (backlog 4), or an IPv4-only one (backlog 128) when IPv6 is not
// available. "Address in use" fails at once, without trying IPv4. Sockets are
// never inherited by child processes.
Result<Socket> listen_tcp(uint16_t port);

}  // namespace korvex::platform
