#include <gtest/gtest.h>

#include "main/startup_causes.hpp"

namespace korvex::main {
namespace {

using Listeners = std::vector<platform::ListeningProcess>;

TEST(StartupCauses, ThePortsHolderAsTheSystemNamesIt) {
  EXPECT_EQ(port_holder_lines(45334, Listeners{}), "") << "nobody listens: another cause";
  EXPECT_EQ(port_holder_lines(45334, Listeners{{4242, "korvex-receiver.exe"}}),
            "   TCP 45334 is held by korvex-receiver.exe (pid 4242): a receiver is already "
            "running; use that one, or end it first\n");
  EXPECT_EQ(port_holder_lines(45334, Listeners{{99, "python3"}}),
            "   TCP 45334 is held by python3 (pid 99): end that program, then start the receiver "
            "again\n");
  EXPECT_EQ(port_holder_lines(45334, Listeners{{}}),
            "   another program holds TCP 45334; the system does not say which\n");
}

TEST(StartupCauses, EachCauseASubLine) {
  EXPECT_EQ(cause_lines({}), "");
  EXPECT_EQ(cause_lines({"one", "two"}), "   one\n   two\n");
}

}  // namespace
}  // namespace korvex::main
