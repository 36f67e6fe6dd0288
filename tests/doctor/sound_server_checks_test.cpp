#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doctor/loopback_check.hpp"
#include "doctor/sound_server_checks.hpp"

namespace korvex::doctor {
namespace {

using ::testing::HasSubstr;

TEST(PipeWireCheck, AServerAndASessionManager) {
  EXPECT_EQ(check_pipewire(PipeWireState{}).verdict, Verdict::ok);
  const Finding none = check_pipewire(fail("PipeWire: no server to connect to: Host is down"));
  EXPECT_EQ(none.verdict, Verdict::problem);
  EXPECT_THAT(none.text, HasSubstr("systemctl --user start pipewire wireplumber"));

  EXPECT_EQ(check_session_manager({{}, {"settings"}, {"pw-cli"}}).verdict, Verdict::problem);
  EXPECT_EQ(check_session_manager({{}, {"settings", "default"}, {"WirePlumber"}}).text,
            "WirePlumber links programs to the camera and the microphone");
  EXPECT_EQ(check_session_manager({{}, {"default"}, {}}).verdict, Verdict::ok);
}

TEST(PulseCheck, ProgramsThatRecordThroughPulseAudioNeedPipeWiresServer) {
  EXPECT_EQ(check_pulse(true, PulseServer{"PulseAudio (on PipeWire 0.3.65)", "15.0.0"}).verdict,
            Verdict::ok);
  const Finding plain = check_pulse(true, PulseServer{"pulseaudio", "16.1"});
  EXPECT_EQ(plain.verdict, Verdict::warning);
  EXPECT_THAT(plain.text, HasSubstr("replace it with pipewire-pulse"));
  EXPECT_EQ(check_pulse(false, PulseServer{"pulseaudio", "16.1"}).verdict, Verdict::ok)
      << "without PipeWire the receiver plays into one of its sinks";
  EXPECT_THAT(check_pulse(true, fail("connect: Connection refused")).text,
              HasSubstr("install and start pipewire-pulse"));
  EXPECT_THAT(check_pulse(false, fail("connect: Connection refused")).text,
              HasSubstr("no sound server answers"));
}

TEST(ReceiverNodesCheck, TheCameraAndTheMicrophoneOnPipeWire) {
  EXPECT_EQ(check_receiver_nodes({{"korvex-camera", "korvex-microphone"}, {}, {}}).verdict,
            Verdict::ok);
  EXPECT_EQ(check_receiver_nodes({{"korvex-camera"}, {}, {}}).verdict, Verdict::warning);
  EXPECT_THAT(check_receiver_nodes({{"korvex-microphone"}, {}, {}}).text, HasSubstr("--no-vcam"));
}

TEST(LoopbackCheck, OnlyAnOutputNamedKorvexIsWrittenInto) {
  EXPECT_EQ(check_loopback({}).verdict, Verdict::ok);
  const std::vector<vcam::VideoDeviceInfo> devices = {{"/dev/video0", "Webcam", false},
                                                      {"/dev/video9", "Dummy video device", true},
                                                      {"/dev/video10", "Korvex", true}};
  EXPECT_THAT(check_loopback(devices).text, HasSubstr("/dev/video10 is named \"Korvex\""));
  const Finding unnamed = check_loopback({devices[0], devices[1]});
  EXPECT_EQ(unnamed.verdict, Verdict::warning);
  EXPECT_THAT(unnamed.text,
              HasSubstr("/dev/video9 is named \"Dummy video device\", not \"Korvex\""));
  EXPECT_EQ(check_loopback({{"/dev/video0", "Korvex", false}}).verdict, Verdict::ok)
      << "a capture device of that name is not the receiver's";
}

}  // namespace
}  // namespace korvex::doctor
