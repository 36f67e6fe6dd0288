#include <gtest/gtest.h>

#include "platform/listening_processes.hpp"
#include "platform/socket.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace korvex::platform {
namespace {

uint32_t own_pid() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<uint32_t>(getpid());
#endif
}

TEST(ListeningProcesses, NamesThisProgramOnItsPortAndNobodyOnAFreeOne) {
  constexpr uint16_t kPort = 45392;  // this test's alone
  auto listener = listen_tcp(kPort);
  ASSERT_TRUE(listener.ok()) << listener.error();
  auto found = tcp_listeners(kPort);
  ASSERT_TRUE(found.ok()) << found.error();
  ASSERT_EQ(found->size(), 1u) << describe(found.value());
#ifdef _WIN32
  // Wine 8 lists the socket but names no process for it (pid 0); Windows does.
  if (found->front().pid == 0) {
    EXPECT_EQ(found->front().name, "");
  } else {
    EXPECT_EQ(found->front().pid, own_pid());
    EXPECT_EQ(found->front().name, "platform_tests.exe");
  }
#else
  EXPECT_EQ(found->front().pid, own_pid());
  EXPECT_EQ(found->front().name, "platform_tests");
#endif

  listener->close();
  found = tcp_listeners(kPort);
  ASSERT_TRUE(found.ok()) << found.error();
  EXPECT_TRUE(found->empty()) << describe(found.value());
}

TEST(ListeningProcesses, DescribedAsTheSystemTellsAndTheReceiverKnownByName) {
  EXPECT_EQ(describe(ListeningProcess{4242, "korvex-receiver"}), "korvex-receiver (pid 4242)");
  EXPECT_EQ(describe(ListeningProcess{4, ""}), "pid 4");
  EXPECT_EQ(describe(std::vector<ListeningProcess>{{9, "a"}, {}}),
            "a (pid 9), a program the system does not name");
  EXPECT_TRUE(is_receiver({1, "korvex-receiver"}));
  EXPECT_TRUE(is_receiver({1, "Korvex-Receiver.EXE"}));
  EXPECT_FALSE(is_receiver({1, "korvex-receiver-old"}));
}

}  // namespace
}  // namespace korvex::platform
