#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doctor/firewall_check.hpp"

namespace korvex::doctor {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kPrivateAndDomain = kPrivateProfile | kDomainProfile;

FirewallRule korvex_rule() {
  return {"Korvex Receiver", true, true, true, 6, "45334", "", kPrivateAndDomain};
}

// What Windows makes when its prompt for a new program is cancelled.
FirewallRule cancelled_prompt_rule() {
  return {"korvex-receiver.exe",
          true,
          true,
          false,
          256,
          "*",
          R"(C:\Program Files\Korvex\korvex-receiver.exe)",
          kPublicProfile};
}

FirewallState state(uint32_t current, std::vector<FirewallRule> rules) {
  FirewallState firewall;
  firewall.current_profiles = current;
  firewall.enabled = true;
  firewall.rules = std::move(rules);
  return firewall;
}

TEST(FirewallRules, PortListsRangesAndWildcards) {
  EXPECT_TRUE(ports_cover("45334", 45334));
  EXPECT_TRUE(ports_cover("*", 45334));
  EXPECT_TRUE(ports_cover("", 45334));
  EXPECT_TRUE(ports_cover("80, 45000-46000", 45334));
  EXPECT_TRUE(ports_cover("443,45334", 45334));
  EXPECT_FALSE(ports_cover("45335", 45334));
  EXPECT_FALSE(ports_cover("45335-46000,80", 45334));
  EXPECT_FALSE(ports_cover("RPC", 45334));
  EXPECT_FALSE(ports_cover("45334x", 45334));
}

TEST(FirewallRules, OnlyEnabledInboundTcpRulesForTheReceiverOrEveryProgramCount) {
  EXPECT_TRUE(rule_applies(korvex_rule()));
  EXPECT_TRUE(rule_applies(cancelled_prompt_rule()));
  FirewallRule rule = cancelled_prompt_rule();
  rule.application = R"(C:\Tools\other.exe)";
  EXPECT_FALSE(rule_applies(rule)) << "another program's rule";
  rule = korvex_rule();
  rule.protocol = 17;
  EXPECT_FALSE(rule_applies(rule)) << "UDP";
  rule = korvex_rule();
  rule.inbound = false;
  EXPECT_FALSE(rule_applies(rule));
  rule = korvex_rule();
  rule.enabled = false;
  EXPECT_FALSE(rule_applies(rule));
  rule = korvex_rule();
  rule.local_ports = "8080";
  EXPECT_FALSE(rule_applies(rule));
}

TEST(FirewallCheck, TheInstallersRuleLetsThePhoneIn) {
  const Finding found = check_firewall(state(kPrivateProfile, {korvex_rule()}));
  EXPECT_EQ(found.verdict, Verdict::ok);
  EXPECT_EQ(found.text,
            "the inbound rule \"Korvex Receiver\" lets phones reach TCP 45334 on private, domain "
            "networks");
  EXPECT_EQ(check_network_profile(state(kPrivateProfile, {korvex_rule()})).verdict, Verdict::ok);
}

TEST(FirewallCheck, WithoutARuleSaysHowToAddOne) {
  const Finding found = check_firewall(state(kPrivateProfile, {}));
  EXPECT_EQ(found.verdict, Verdict::problem);
  EXPECT_THAT(found.text, HasSubstr("reinstall Korvex"));
  EXPECT_THAT(found.text,
              HasSubstr("netsh advfirewall firewall add rule name=\"Korvex Receiver\""));
}

TEST(FirewallCheck, ABlockRuleWinsOverTheAllowRuleOnTheCurrentNetwork) {
  const Finding blocked =
      check_firewall(state(kPublicProfile, {korvex_rule(), cancelled_prompt_rule()}));
  EXPECT_EQ(blocked.verdict, Verdict::problem);
  EXPECT_THAT(blocked.text, HasSubstr("\"korvex-receiver.exe\" blocks the receiver"));
  // The block rule is for Public networks only.
  EXPECT_EQ(
      check_firewall(state(kPrivateProfile, {korvex_rule(), cancelled_prompt_rule()})).verdict,
      Verdict::ok);
}

TEST(FirewallCheck, BlockingEveryConnectionIsAProblemAndAFirewallThatIsOffIsNot) {
  FirewallState firewall = state(kPrivateProfile, {korvex_rule()});
  firewall.blocks_all_inbound = true;
  EXPECT_THAT(check_firewall(firewall).text, HasSubstr("Blocks all incoming connections"));
  firewall = state(kPublicProfile, {});
  firewall.enabled = false;
  EXPECT_EQ(check_firewall(firewall).verdict, Verdict::ok);
  EXPECT_EQ(check_network_profile(firewall).verdict, Verdict::ok);
}

TEST(FirewallCheck, WhatCannotBeReadIsAWarningWithTheWayThrough) {
  FirewallState firewall;
  firewall.rules = fail("INetFwPolicy2::get_Rules: Access is denied. (0x80070005)");
  Finding found = check_firewall(firewall);
  EXPECT_EQ(found.verdict, Verdict::warning);
  EXPECT_THAT(found.text, HasSubstr("0x80070005"));
  EXPECT_THAT(found.text, HasSubstr("Allow an app through firewall"));

  firewall.rules = std::vector<FirewallRule>{};
  firewall.enabled = fail("get_FirewallEnabled: Not implemented (0x80004001)");
  EXPECT_EQ(check_firewall(firewall).verdict, Verdict::warning);
  found = check_network_profile(firewall);
  EXPECT_EQ(found.verdict, Verdict::warning);
  EXPECT_THAT(found.text, HasSubstr("if it is Public, make it Private"));
}

TEST(NetworkProfileCheck, APublicNetworkKeepsThePhoneOutUnlessARuleCoversIt) {
  const Finding found = check_network_profile(state(kPublicProfile, {korvex_rule()}));
  EXPECT_EQ(found.verdict, Verdict::problem);
  EXPECT_THAT(found.text, HasSubstr("this network is Public"));
  EXPECT_THAT(found.text, HasSubstr("Network profile type > Private network"));

  FirewallRule everywhere = korvex_rule();
  everywhere.profiles = 0x7FFFFFFF;
  EXPECT_EQ(check_network_profile(state(kPublicProfile, {everywhere})).verdict, Verdict::ok);
  EXPECT_EQ(check_network_profile(state(kDomainProfile, {korvex_rule()})).text,
            "this network is domain");
  EXPECT_EQ(check_network_profile(state(0, {korvex_rule()})).verdict, Verdict::warning);
}

}  // namespace
}  // namespace korvex::doctor
