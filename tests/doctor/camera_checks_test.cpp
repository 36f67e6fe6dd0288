#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doctor/camera_checks.hpp"

namespace korvex::doctor {
namespace {

using ::testing::HasSubstr;

constexpr const char* kDll = R"(C:\Program Files\Korvex\KorvexSource.dll)";

TEST(CameraSourceCheck, FollowsTheClassToItsFileAndLoadsIt) {
  SourceState source;
  Finding found = check_camera_source(source);
  EXPECT_EQ(found.verdict, Verdict::problem);
  EXPECT_THAT(found.text, HasSubstr("KorvexSource.dll is not registered"));

  source.server = kDll;
  found = check_camera_source(source);
  EXPECT_EQ(found.verdict, Verdict::problem);
  EXPECT_THAT(found.text, HasSubstr("points at C:\\Program Files\\Korvex\\KorvexSource.dll, which "
                                    "is not there"));

  source.server_exists = true;
  source.media_types = fail("ActivateObject: Class not registered (0x80040154)");
  EXPECT_THAT(check_camera_source(source).text, HasSubstr("does not load (ActivateObject"));

  source.media_types = std::vector<std::string>{};
  EXPECT_EQ(check_camera_source(source).verdict, Verdict::problem);

  source.media_types = std::vector<std::string>{"NV12 1920x1080 @ 30 fps", "YUY2 640x360 @ 30 fps"};
  found = check_camera_source(source);
  EXPECT_EQ(found.verdict, Verdict::ok);
  EXPECT_THAT(found.text, HasSubstr("offers 2 picture formats (NV12 1920x1080 @ 30 fps first)"));
}

TEST(CameraFacilityCheck, Windows11sVirtualCameraOrTheDirectShowFilter) {
  CameraFacility windows11;
  windows11.virtual_camera = true;
  EXPECT_THAT(check_camera_facility(windows11).text,
              HasSubstr("\"Korvex Windows Virtual Camera\""));

  CameraFacility windows10;
  Finding found = check_camera_facility(windows10);
  EXPECT_EQ(found.verdict, Verdict::problem);
  EXPECT_THAT(found.text, HasSubstr("DirectShow camera \"Korvex\" is not registered"));

  windows10.filter_server = R"(C:\Program Files\Korvex\KorvexFilter.dll)";
  EXPECT_THAT(check_camera_facility(windows10).text, HasSubstr("which is not there"));

  windows10.filter_server_exists = true;
  found = check_camera_facility(windows10);
  EXPECT_EQ(found.verdict, Verdict::ok);
  EXPECT_THAT(found.text, HasSubstr("registered for 64-bit programs:"));
  windows10.filter_for_32_bit = true;
  EXPECT_THAT(check_camera_facility(windows10).text, HasSubstr("64-bit and 32-bit programs"));
}

TEST(CameraPrivacyCheck, EachDeniedSwitchIsNamed) {
  EXPECT_EQ(check_camera_privacy({}).verdict, Verdict::ok) << "unset allows";
  EXPECT_EQ(check_camera_privacy({"Allow", "Allow", "Allow"}).verdict, Verdict::ok);
  EXPECT_THAT(check_camera_privacy({"Deny", "Allow", "Allow"}).text,
              HasSubstr("\"Camera access\""));
  EXPECT_THAT(check_camera_privacy({std::nullopt, "Deny", std::nullopt}).text,
              HasSubstr("\"Let apps access your camera\""));
  const Finding desktop = check_camera_privacy({std::nullopt, std::nullopt, "Deny"});
  EXPECT_EQ(desktop.verdict, Verdict::problem);
  EXPECT_THAT(desktop.text, HasSubstr("\"Let desktop apps access your camera\""));
}

}  // namespace
}  // namespace korvex::doctor
