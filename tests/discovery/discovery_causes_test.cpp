#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "discovery/discovery_causes.hpp"
#include "discovery/responder.hpp"

namespace korvex::discovery {
namespace {

using ::testing::ElementsAre;
using Addresses = std::vector<platform::InterfaceAddress>;

TEST(DiscoveryCauses, NoResponderAndNoReachableAddress) {
  const Addresses lan = {{true, {10, 0, 0, 5}}};
  const Addresses loopback = {{true, {127, 0, 0, 1}}, {true, {169, 254, 1, 1}}};
  EXPECT_TRUE(discovery_causes({}, lan).empty());
  EXPECT_THAT(discovery_causes(fail("mDNS daemon: Daemon not running"), lan),
              ElementsAre(std::string(responder_missing_text())));
  EXPECT_THAT(discovery_causes({}, loopback), ElementsAre(std::string(kNoAddressText)));
  EXPECT_EQ(discovery_causes(fail("x"), fail("GetAdaptersAddresses: failed")).size(), 2u);
}

}  // namespace
}  // namespace korvex::discovery
