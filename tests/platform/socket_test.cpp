#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <variant>
#include <vector>

#include "platform/socket.hpp"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace korvex::platform {
namespace {

TEST(AcceptErrors, SortedByWhatTheyMeanForTheListener) {
#ifdef _WIN32
  EXPECT_EQ(classify_accept_error(WSAECONNRESET), AcceptFailure::peer);
  EXPECT_EQ(classify_accept_error(WSAECONNABORTED), AcceptFailure::peer);
  EXPECT_EQ(classify_accept_error(WSAEMFILE), AcceptFailure::resources);
  EXPECT_EQ(classify_accept_error(WSAENOBUFS), AcceptFailure::resources);
  EXPECT_EQ(classify_accept_error(WSAENOTSOCK), AcceptFailure::listener);
  EXPECT_EQ(classify_accept_error(WSAEINVAL), AcceptFailure::listener);
#else
  EXPECT_EQ(classify_accept_error(ECONNABORTED), AcceptFailure::peer);
  EXPECT_EQ(classify_accept_error(EPROTO), AcceptFailure::peer);
  EXPECT_EQ(classify_accept_error(ENETUNREACH), AcceptFailure::peer);
  EXPECT_EQ(classify_accept_error(EMFILE), AcceptFailure::resources);
  EXPECT_EQ(classify_accept_error(ENFILE), AcceptFailure::resources);
  EXPECT_EQ(classify_accept_error(ENOBUFS), AcceptFailure::resources);
  EXPECT_EQ(classify_accept_error(ENOMEM), AcceptFailure::resources);
  EXPECT_EQ(classify_accept_error(EBADF), AcceptFailure::listener);
  EXPECT_EQ(classify_accept_error(ENOTSOCK), AcceptFailure::listener);
  EXPECT_EQ(classify_accept_error(EINVAL), AcceptFailure::listener);
#endif
}

// A client connected to `port` on 127.0.0.1.
Socket connect_loopback(uint16_t port) {
  Socket client(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  EXPECT_EQ(::connect(client.native(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return client;
}

// How a newer phone ends the reader of the one it takes over from.
TEST(Socket, ShuttingDownADuplicateEndsAReceiveWaitingOnTheSocket) {
  constexpr uint16_t kPort = 45391;  // this test's alone
  auto listener = listen_tcp(kPort);
  ASSERT_TRUE(listener.ok()) << listener.error();
  Socket client = connect_loopback(kPort);
  AcceptResult accepted = listener->accept();
  ASSERT_TRUE(std::holds_alternative<Accepted>(accepted));
  const Socket& reader = std::get<Accepted>(accepted).socket;
  reader.set_connection_options(60'000, 2'000);
  auto other = reader.duplicate();
  ASSERT_TRUE(other.ok()) << other.error();

  auto received = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buffer(16);
    return reader.receive(buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it wait
  other->shutdown_both();
  // Not woken, it would wait out the peer's silence: a minute.
  ASSERT_EQ(received.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const Result<size_t> result = received.get();
  EXPECT_TRUE(!result.ok() || result.value() == 0);
}

#ifndef _WIN32

// A listener on an ephemeral loopback port, and a client connected to it.
struct LoopbackPair {
  Socket listener;
  Socket client;
};

LoopbackPair loopback_pair() {
  LoopbackPair pair{Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), Socket()};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  EXPECT_EQ(::bind(pair.listener.native(), reinterpret_cast<sockaddr*>(&address), size), 0);
  EXPECT_EQ(::listen(pair.listener.native(), 4), 0);
  EXPECT_EQ(::getsockname(pair.listener.native(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  pair.client = connect_loopback(ntohs(address.sin_port));
  return pair;
}

TEST(AcceptErrors, RunningOutOfDescriptorsPassesTheListenerStaysUsable) {
  LoopbackPair pair = loopback_pair();
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const int lowest_free = ::dup(0);
  ::close(lowest_free);
  rlimit exhausted = limit;
  exhausted.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
  AcceptResult starved = pair.listener.accept();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  ASSERT_TRUE(std::holds_alternative<AcceptError>(starved));
  EXPECT_EQ(std::get<AcceptError>(starved).failure, AcceptFailure::resources);

  // The waiting connection is still there once descriptors are free again.
  AcceptResult accepted = pair.listener.accept();
  EXPECT_TRUE(std::holds_alternative<Accepted>(accepted));
}

TEST(AcceptErrors, ASocketThatDoesNotListenIsTheListenersOwnFailure) {
  Socket not_listening(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  AcceptResult result = not_listening.accept();
  ASSERT_TRUE(std::holds_alternative<AcceptError>(result));
  EXPECT_EQ(std::get<AcceptError>(result).failure, AcceptFailure::listener);
}

TEST(SendAll, TheTimeOutBoundsTheWholeWriteThoughThePeerKeepsReading) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Socket sender(fds[0]);
  const int small = 4096;
  ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  // A peer that takes a little every few milliseconds: every single send
  // makes progress, so only a bound on the whole write ends it.
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    std::vector<uint8_t> sink(512);
    while (!stop.load()) {
      (void)::recv(fds[1], sink.data(), sink.size(), MSG_DONTWAIT);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const std::vector<uint8_t> message(64 << 20, 0x5A);  // ~10 minutes at the peer's pace
  const auto start = std::chrono::steady_clock::now();
  const Result<void> sent = sender.send_all(message, 300);
  const auto took = std::chrono::steady_clock::now() - start;
  stop = true;
  trickle.join();
  ::close(fds[1]);
  EXPECT_FALSE(sent.ok());
  // Generous against a loaded machine; without the bound it takes minutes.
  EXPECT_LT(took, std::chrono::seconds(10));

  // A write that fits is whole.
  int again[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, again), 0);
  Socket quick(again[0]);
  const std::vector<uint8_t> small_message(30, 1);
  EXPECT_TRUE(quick.send_all(small_message, 300).ok());
  std::vector<uint8_t> got(64);
  EXPECT_EQ(::recv(again[1], got.data(), got.size(), 0), 30);
  ::close(again[1]);
}

#endif

}  // namespace
}  // namespace korvex::platform
