#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/proc_net_tcp_linux.hpp"

namespace korvex::platform {
namespace {

TEST(ProcNetTcp, ListeningSocketsOfOnePortInBothTables) {
  // 0xB116 = 45334; state 0A = LISTEN, 01 = ESTABLISHED.
  const char* v4 =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode\n"
      "   0: 00000000:B116 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        "
      "0 31337 1 0000000000000000 100 0 0 10 0\n"
      "   1: 0100007F:B116 0100007F:D431 01 00000000:00000000 00:00000000 00000000     0        "
      "0 31338 1 0000000000000000 20 4 30 10 -1\n"
      "   2: 00000000:0016 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        "
      "0 999 1 0000000000000000 100 0 0 10 0\n"
      "   3: garbage\n";
  EXPECT_THAT(listening_socket_inodes(v4, 45334), ::testing::ElementsAre(31337u));
  EXPECT_THAT(listening_socket_inodes(v4, 22), ::testing::ElementsAre(999u));
  EXPECT_TRUE(listening_socket_inodes(v4, 80).empty());

  const char* v6 =
      "  sl  local_address                         remote_address                        st "
      "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 00000000000000000000000000000000:B116 00000000000000000000000000000000:0000 0A "
      "00000000:00000000 00:00000000 00000000     0        0 4242 1 0000000000000000 100 0 0 10 "
      "0\n";
  EXPECT_THAT(listening_socket_inodes(v6, 45334), ::testing::ElementsAre(4242u));
}

}  // namespace
}  // namespace korvex::platform
