#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../audio/fake_audio_host.hpp"
#include "doctor/cable_check.hpp"

namespace korvex::doctor {
namespace {

using ::testing::HasSubstr;

TEST(CableCheck, FindsTheCableAsTheReceiverWould) {
  audio::testing::FakeHost host;
  host.add(std::string("Speakers (Realtek(R) Audio)"));
  host.add(std::string("CABLE Input (VB-Audio Virtual Cable)"));
  const Finding found = check_cable(host);
  EXPECT_EQ(found.verdict, Verdict::ok);
  EXPECT_EQ(found.text, "the phone's sound goes into \"CABLE Input (VB-Audio Virtual Cable)\"");
}

TEST(CableCheck, WithoutTheCableSaysWhereItComesFromAndWhatThereIs) {
  audio::testing::FakeHost host;
  host.add(std::string("Speakers (Realtek(R) Audio)"));
  host.add(std::string("PulseAudio"));
  const Finding found = check_cable(host);
  EXPECT_EQ(found.verdict, Verdict::problem);
  EXPECT_THAT(found.text, HasSubstr("\"CABLE Input\""));
  EXPECT_THAT(found.text,
              HasSubstr("; output devices found: \"Speakers (Realtek(R) Audio)\", \"PulseAudio\""));

  host.enumerate_error = "cannot reach the audio service";
  EXPECT_THAT(check_cable(host).text, HasSubstr("cannot enumerate output devices: cannot reach"));
}

}  // namespace
}  // namespace korvex::doctor
