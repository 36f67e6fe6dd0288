#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doctor/network_checks.hpp"

namespace korvex::doctor {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

TEST(DiscoveryCheck, NamesTheMissingResponderAndWhatItSaid) {
  EXPECT_EQ(check_discovery({}).verdict, Verdict::ok);
  const Finding missing = check_discovery(fail("mDNS daemon: Daemon not running"));
  EXPECT_EQ(missing.verdict, Verdict::problem);
  EXPECT_EQ(missing.subject, "discovery");
  EXPECT_THAT(missing.text, AllOf(HasSubstr("type this PC's address into the phone's app"),
                                  HasSubstr("(mDNS daemon: Daemon not running)")));
}

TEST(AddressCheck, GivesTheAddressesAPhoneCanReachAndNoneElse) {
  const std::vector<platform::InterfaceAddress> lan = {
      {true, {127, 0, 0, 1}}, {false, {}}, {true, {192, 168, 1, 20}}, {true, {169, 254, 3, 4}}};
  const Finding found = check_addresses(lan);
  EXPECT_EQ(found.verdict, Verdict::ok);
  EXPECT_THAT(found.text, HasSubstr("at 192.168.1.20 ("));
  EXPECT_THAT(found.text, ::testing::Not(HasSubstr("127.0.0.1")));

  const std::vector<platform::InterfaceAddress> loopback_only = {{true, {127, 0, 0, 1}}};
  EXPECT_EQ(check_addresses(loopback_only).verdict, Verdict::problem);
  EXPECT_EQ(check_addresses(fail("GetAdaptersAddresses: failed")).verdict, Verdict::problem);
}

TEST(PortCheck, TellsAFreePortAndTheReceiverFromAnotherProgram) {
  using Listeners = std::vector<platform::ListeningProcess>;
  EXPECT_EQ(check_port(Listeners{}).text, "TCP 45334 is free for the receiver");

  const Finding receiver = check_port(Listeners{{4242, "korvex-receiver.exe"}});
  EXPECT_EQ(receiver.verdict, Verdict::ok);
  EXPECT_EQ(receiver.text, "korvex-receiver.exe (pid 4242) listens on TCP 45334");

  const Finding other = check_port(Listeners{{99, "python3"}});
  EXPECT_EQ(other.verdict, Verdict::problem);
  EXPECT_THAT(other.text, HasSubstr("TCP 45334 is held by python3 (pid 99)"));

  const Finding unnamed = check_port(Listeners{{}});
  EXPECT_EQ(unnamed.verdict, Verdict::problem);
  EXPECT_THAT(unnamed.text, HasSubstr("held by a program the system does not name"));

  const Finding unknown = check_port(fail("/proc/net/tcp: Permission denied (os error 13)"));
  EXPECT_EQ(unknown.verdict, Verdict::warning);
  EXPECT_THAT(unknown.text, HasSubstr("Permission denied"));
}

}  // namespace
}  // namespace korvex::doctor
