// What the receiver advertises: the label and the addresses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "discovery/address_filter.hpp"
#include "discovery/service_label.hpp"

namespace korvex::discovery {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string label_of(const char* computername) {
  return service_label(std::string(computername), std::nullopt);
}

TEST(ServiceLabel, KeepsLettersDigitsAndCaseUpToTheFirstDot) {
  EXPECT_EQ(label_of("DESKTOP-7Q2K"), "DESKTOP-7Q2K");
  EXPECT_EQ(label_of("my_pc.office"), "my-pc");
  EXPECT_EQ(label_of("MixedCase42.a.b"), "MixedCase42");
}

TEST(ServiceLabel, ReplacesEveryOtherCharacterWithOneHyphen) {
  EXPECT_EQ(label_of("a b!c"), "a-b-c");
  EXPECT_EQ(label_of("a__b"), "a--b");
  // One hyphen per character, whatever its length in UTF-8.
  EXPECT_EQ(label_of("caf\xC3\xA9-pc"), "caf--pc");
  EXPECT_EQ(label_of("x\xE2\x82\xAC\xF0\x9F\x98\x80y"), "x--y");
}

TEST(ServiceLabel, TrimsHyphensAtBothEnds) {
  EXPECT_EQ(label_of("_lab_pc_"), "lab-pc");
  EXPECT_EQ(label_of("--pc--"), "pc");
  EXPECT_EQ(label_of("\xC3\xA9pc\xC3\xA9"), "pc");
}

TEST(ServiceLabel, FallsBackWhenNothingIsLeft) {
  EXPECT_EQ(label_of("\xE6\x9D\xB1\xE4\xBA\xAC"), "Korvex-PC");  // only non-ASCII letters
  EXPECT_EQ(label_of("_-_"), "Korvex-PC");
  EXPECT_EQ(label_of(".office"), "Korvex-PC");
  EXPECT_EQ(label_of(""), "Korvex-PC");
  EXPECT_EQ(service_label(std::nullopt, std::nullopt), "Korvex-PC");
}

TEST(ServiceLabel, ComputerNameFirstThenHostName) {
  EXPECT_EQ(service_label(std::string("WIN-PC"), std::string("linux-box")), "WIN-PC");
  EXPECT_EQ(service_label(std::nullopt, std::string("linux-box.lan")), "linux-box");
  // Set but empty is taken: the host name is not consulted.
  EXPECT_EQ(service_label(std::string(""), std::string("linux-box")), "Korvex-PC");
}

platform::InterfaceAddress v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  platform::InterfaceAddress address;
  address.ipv4 = true;
  address.v4 = {a, b, c, d};
  return address;
}

TEST(AddressFilter, DropsTheFourRangesAPhoneCannotReach) {
  EXPECT_THAT(advertisable_addresses({v4(0, 0, 0, 0), v4(127, 0, 0, 1), v4(127, 255, 1, 2),
                                      v4(169, 254, 3, 4), v4(100, 64, 0, 1), v4(100, 100, 1, 1),
                                      v4(100, 127, 255, 255)}),
              IsEmpty());
}

TEST(AddressFilter, KeepsEveryOtherIpv4AddressInTheOrderListed) {
  const platform::InterfaceAddress ipv6;  // never advertised
  const auto kept = advertisable_addresses(
      {v4(192, 168, 1, 20), ipv6, v4(10, 0, 0, 5), v4(100, 63, 0, 1), v4(100, 128, 0, 1),
       v4(169, 253, 0, 1), v4(8, 8, 8, 8), v4(172, 17, 0, 1), v4(128, 0, 0, 1)});
  EXPECT_THAT(kept, ElementsAre(Ipv4Address{192, 168, 1, 20}, Ipv4Address{10, 0, 0, 5},
                                Ipv4Address{100, 63, 0, 1}, Ipv4Address{100, 128, 0, 1},
                                Ipv4Address{169, 253, 0, 1}, Ipv4Address{8, 8, 8, 8},
                                Ipv4Address{172, 17, 0, 1}, Ipv4Address{128, 0, 0, 1}));
  EXPECT_EQ(join_addresses({kept[0], kept[1]}, ", "), "192.168.1.20, 10.0.0.5");
  EXPECT_EQ(join_addresses({}, ", "), "");
  EXPECT_EQ(dotted_quad({255, 0, 9, 100}), "255.0.9.100");
}

}  // namespace
}  // namespace korvex::discovery
