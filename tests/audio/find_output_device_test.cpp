#include "audio/find_output_device.hpp"

#include <gtest/gtest.h>

#include "audio/device_modes.hpp"
#include "audio/lower_case.hpp"
#include "fake_audio_host.hpp"

namespace korvex::audio {
namespace {

using testing::FakeHost;

constexpr const char* kCable = "CABLE Input (VB-Audio Virtual Cable)";

// Speakers (default), an endpoint whose name cannot be read, the cable.
FakeHost typical_host() {
  FakeHost host;
  host.default_endpoint = host.add(std::string("Speakers (Realtek(R) Audio)"));
  host.add(fail("IPropertyStore::GetValue: Element not found. (0x80070490)"));
  host.add(std::string(kCable));
  return host;
}

TEST(FindOutputDevice, MatchesCaseInsensitiveSubstringAndReportsTheNameAsGiven) {
  FakeHost host = typical_host();
  for (const char* request : {"cable", "CABLE INPUT", "Virtual Cable)", kCable}) {
    SCOPED_TRACE(request);
    auto found = find_output_device(host, request);
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(found->name, kCable);
    EXPECT_EQ(found->endpoint, host.endpoints[2]);
  }
}

TEST(FindOutputDevice, FirstMatchWinsAndUnreadableNamesAreSkipped) {
  FakeHost host = typical_host();
  auto found = find_output_device(host, "");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->endpoint, host.endpoints[0]);

  // Both readable names contain "a"; the unreadable one in between is passed by.
  host.endpoints.erase(host.endpoints.begin());
  found = find_output_device(host, "A");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, kCable);
}

TEST(FindOutputDevice, DefaultInAnyCaseMeansTheSystemDefault) {
  FakeHost host = typical_host();
  host.add(std::string("Default Speakers"));
  for (const char* request : {"default", "DEFAULT", "Default", "dEfAuLt"}) {
    auto found = find_output_device(host, request);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Speakers (Realtek(R) Audio)");
  }
  // A longer text is a substring request like any other.
  auto found = find_output_device(host, "default sp");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, "Default Speakers");

  host.default_endpoint->name_result = fail("unreadable");
  found = find_output_device(host, "default");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, "default");

  host.default_endpoint = nullptr;
  found = find_output_device(host, "Default");
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error(), "no default output device");
}

TEST(FindOutputDevice, Failures) {
  FakeHost host = typical_host();
  auto found = find_output_device(host, "Headset Ü");
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error(),
            "no output device matching \"Headset Ü\"; run --list-devices, install VB-CABLE "
            "(https://vb-audio.com/Cable/) for the mic");

  host.enumerate_error = "IMMDeviceEnumerator::EnumAudioEndpoints: Access is denied. (0x80070005)";
  found = find_output_device(host, "cable");
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error(),
            "cannot enumerate output devices: IMMDeviceEnumerator::EnumAudioEndpoints: Access is "
            "denied. (0x80070005)");
}

TEST(FindOutputDevice, MatchesLettersBeyondAscii) {
  FakeHost host;
  host.add(std::string("Écouteurs (Ünïcode Äudio)"));
  host.add(std::string("Динамики (Ελληνικά ΉΧΟΣ)"));
  for (const char* request : {"ÉCOUTEURS", "ünïcode ä", "ДИНАМИКИ", "ελληνικά ήχοσ"}) {
    SCOPED_TRACE(request);
    EXPECT_TRUE(find_output_device(host, request));
  }
}

TEST(LowerCase, FollowsUnicodeLowerCasingAndSurvivesBadUtf8) {
  EXPECT_EQ(lower_case("ABC xyz 09"), U"abc xyz 09");
  EXPECT_EQ(lower_case("ÀÖØÞ×ß"), U"àöøþ×ß");
  EXPECT_EQ(lower_case("ĀĲŁŸŽǄǅ"), U"āĳłÿžǆǆ");
  EXPECT_EQ(lower_case("ΆΈΩΫ"), U"άέωϋ");
  EXPECT_EQ(lower_case("ЀЯҐӀ"), U"ѐяґӏ");
  EXPECT_EQ(lower_case("ẞỲＡ\u212A"), U"ßỳａk");
  EXPECT_EQ(lower_case("\u0181\u023A\U00010400"), U"\u0253\u2C65\U00010428");
  EXPECT_EQ(lower_case("İ"), U"i\u0307");
  EXPECT_EQ(lower_case("a\xff"
                       "b\xc3"),
            U"a\uFFFDb\uFFFD");
  EXPECT_EQ(lower_case("\xe0\x80\x80"
                       "c"),
            U"\uFFFDc");  // overlong
}

TEST(DeviceList, MarksEveryEndpointNamedLikeTheDefault) {
  FakeHost host = typical_host();
  host.add(std::string("Speakers (Realtek(R) Audio)"));
  EXPECT_EQ(device_list_text(host),
            "Output devices (Fake):\n"
            "  - Speakers (Realtek(R) Audio)  (default)\n"
            "  - <unknown>\n"
            "  - CABLE Input (VB-Audio Virtual Cable)\n"
            "  - Speakers (Realtek(R) Audio)  (default)\n");

  host.default_endpoint = nullptr;
  EXPECT_EQ(device_list_text(host).find("(default)"), std::string::npos);

  host.enumerate_error = "connect to PulseAudio: Connection refused";
  EXPECT_EQ(device_list_text(host),
            "Output devices (Fake):\n"
            "  (could not enumerate: connect to PulseAudio: Connection refused)\n");
}

}  // namespace
}  // namespace korvex::audio
