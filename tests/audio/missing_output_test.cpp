#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/find_output_device.hpp"
#include "audio/missing_output.hpp"
#include "fake_audio_host.hpp"

namespace korvex::audio {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(MissingOutput, AMissingCableIsExplainedAndWhatThereIsListed) {
  testing::FakeHost host;
  host.add(std::string("Speakers"));
  host.add(fail("unreadable"));
  host.add(std::string("PulseAudio"));
  const auto causes = missing_output_causes(host, "CABLE Input");
  ASSERT_EQ(causes.size(), 2u);
  EXPECT_EQ(causes[0], missing_cable_text());
#ifdef _WIN32
  EXPECT_THAT(causes[0], HasSubstr("VB-CABLE, whose playback side is \"CABLE Input\", is not "
                                   "installed: get it from https://vb-audio.com/Cable/"));
#else
  EXPECT_THAT(causes[0], HasSubstr("\"Korvex Microphone\""));
#endif
  EXPECT_EQ(causes[1], "output devices found: \"Speakers\", \"PulseAudio\"");

  // Another name gets the listing alone.
  EXPECT_THAT(missing_output_causes(host, "Headset"),
              ElementsAre("output devices found: \"Speakers\", \"PulseAudio\""));
}

TEST(MissingOutput, AskingForTheCablesOtherSideNamesTheOneToPlayInto) {
  testing::FakeHost host;
  host.add(std::string("CABLE Input (VB-Audio Virtual Cable)"));
  EXPECT_THAT(missing_output_causes(host, "CABLE Output"),
              ElementsAre("\"CABLE Input (VB-Audio Virtual Cable)\" is there: the receiver plays "
                          "into it (leave --device out) and programs record the phone from the "
                          "cable's other side",
                          "output devices found: \"CABLE Input (VB-Audio Virtual Cable)\""));
}

TEST(MissingOutput, NothingToAddWhenTheLookupFindsOneOrCannotLook) {
  testing::FakeHost host;
  host.add(std::string("CABLE Input (VB-Audio Virtual Cable)"));
  EXPECT_TRUE(missing_output_causes(host, "cable").empty());
  host.enumerate_error = "no sound server";
  EXPECT_TRUE(missing_output_causes(host, "cable").empty());

  testing::FakeHost empty;
  EXPECT_THAT(missing_output_causes(empty, "Headset"), ElementsAre("Fake lists no output device"));
}

TEST(MissingOutput, TheLookupsMessageIsTheOneItPrints) {
  testing::FakeHost host;
  EXPECT_EQ(find_output_device(host, "Headset").error(), no_match_text("Headset"));
}

}  // namespace
}  // namespace korvex::audio
