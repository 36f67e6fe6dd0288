#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doctor/checks.hpp"
#include "fake_system.hpp"

namespace korvex::doctor {
namespace {

using ::testing::ElementsAre;
using testing::FakeLinux;
using testing::FakeWindows;
using ::testing::HasSubstr;

// Each printed line's verdict and subject, "ok firewall", in order.
struct Lines {
  std::vector<std::string> printed;
  Report report{[this](std::string_view line) { printed.emplace_back(line); }};

  std::vector<std::string> heads() const {
    std::vector<std::string> out;
    for (const std::string& line : printed) {
      const size_t verdict_end = line.find(' ');
      const size_t subject_start = line.find_first_not_of(' ', verdict_end);
      out.push_back(line.substr(0, verdict_end) + " " +
                    line.substr(subject_start, line.find(':') - subject_start));
    }
    return out;
  }
};

// A receiver on the port with a phone streaming.
template <class System>
void receive(System& system) {
  system.listener_result = std::vector<platform::ListeningProcess>{testing::receiver_process()};
  system.section = testing::streaming_section();
}

TEST(WindowsChecks, InTheOrderThePhoneAndTheCameraNeedThem) {
  FakeWindows system;
  receive(system);
  Lines lines;
  check_windows(system, lines.report);
  EXPECT_THAT(lines.heads(),
              ElementsAre("ok firewall", "ok network", "ok discovery", "ok addresses", "ok port",
                          "ok microphone", "ok camera source", "ok camera", "ok camera privacy",
                          "ok receiver"));
  EXPECT_EQ(lines.report.exit_status(), 0);
}

TEST(WindowsChecks, AFreshPcShowsWhatIsMissing) {
  FakeWindows system;
  system.firewall_state.current_profiles = kPublicProfile;
  system.outputs = {"Speakers"};
  system.source = {};
  system.facility = {};
  Lines lines;
  check_windows(system, lines.report);
  EXPECT_THAT(lines.heads(),
              ElementsAre("ok firewall", "problem network", "ok discovery", "ok addresses",
                          "ok port", "problem microphone", "problem camera source",
                          "problem camera", "ok camera privacy", "warning receiver"));
  EXPECT_EQ(lines.report.summary(), "4 problems, 1 warning\n");
  EXPECT_EQ(lines.report.exit_status(), 1);
}

TEST(LinuxChecks, InTheOrderThePhoneAndTheCameraNeedThem) {
  FakeLinux system;
  receive(system);
  Lines lines;
  check_linux(system, lines.report);
  EXPECT_THAT(lines.heads(), ElementsAre("ok PipeWire", "ok session manager", "ok PulseAudio",
                                         "ok discovery", "ok addresses", "ok port",
                                         "ok v4l2loopback", "ok receiver", "ok camera node"));
}

TEST(LinuxChecks, WithoutPipeWireTheSinkIsCheckedAndNoNodeIsLookedFor) {
  FakeLinux system;
  system.pipewire_state = fail("PipeWire: no server to connect to: Host is down");
  system.pulse = PulseServer{"pulseaudio", "16.1"};
  system.outputs = {"Built-in Audio"};
  system.responder_result = fail("mDNS daemon: Daemon not running");
  Lines lines;
  check_linux(system, lines.report);
  EXPECT_THAT(lines.heads(), ElementsAre("problem PipeWire", "ok PulseAudio", "problem microphone",
                                         "problem discovery", "ok addresses", "ok port",
                                         "ok v4l2loopback", "warning receiver"));
  EXPECT_THAT(lines.printed[2], HasSubstr("output devices found: \"Built-in Audio\""));
}

}  // namespace
}  // namespace korvex::doctor
