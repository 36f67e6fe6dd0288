#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "main/help.hpp"
#include "main/number_syntax.hpp"
#include "main/settings.hpp"
#include "platform/console.hpp"

namespace korvex::main {
namespace {

Result<Mode> parse(std::vector<std::string> args) {
  return parse_args(args);
}

Settings receive_settings(std::vector<std::string> args) {
  auto mode = parse(std::move(args));
  EXPECT_TRUE(mode.ok()) << (mode.ok() ? "" : mode.error());
  if (!mode.ok() || !std::holds_alternative<mode::Receive>(mode.value())) {
    ADD_FAILURE() << "not a receive mode";
    return {};
  }
  return std::get<mode::Receive>(mode.value()).settings;
}

std::string error_of(std::vector<std::string> args) {
  auto mode = parse(std::move(args));
  EXPECT_FALSE(mode.ok());
  return mode.ok() ? std::string("<parsed>") : mode.error();
}

TEST(CommandLine, NoArgumentsReceiveWithDefaults) {
  const Settings s = receive_settings({});
  EXPECT_EQ(s.device, "CABLE Input");
  EXPECT_EQ(s.gain, 1.0f);
  EXPECT_EQ(s.prefill_ms, 40.0);
  EXPECT_EQ(s.frames, 60u);
  EXPECT_FALSE(s.dump_frames.has_value());
  EXPECT_FALSE(s.no_mdns || s.no_vcam || s.no_audio || s.background);
  EXPECT_EQ(s.autostart, Autostart::absent);
}

// Only a --device left out lets the receiver make a microphone of its own:
// naming the default endpoint is a choice too.
TEST(CommandLine, DeviceCountsAsGivenWhateverItNames) {
  EXPECT_FALSE(receive_settings({}).device_given);
  EXPECT_FALSE(receive_settings({"--gain", "2"}).device_given);
  EXPECT_TRUE(receive_settings({"--device", "CABLE Input"}).device_given);
  EXPECT_TRUE(receive_settings({"-d", "default"}).device_given);
}

TEST(CommandLine, EveryOptionSetsItsField) {
  const Settings s = receive_settings(
      {"-d", "Speakers", "-g", "2.5", "--prefill-ms", "40.5", "--frames", "+5", "--dump-frames",
       "out dir", "--no-mdns", "--no-vcam", "--no-audio", "--background", "--autostart", "off"});
  EXPECT_EQ(s.device, "Speakers");
  EXPECT_EQ(s.gain, 2.5f);
  EXPECT_EQ(s.prefill_ms, 40.5);
  EXPECT_EQ(s.frames, 5u);
  EXPECT_EQ(s.dump_frames, "out dir");
  EXPECT_TRUE(s.no_mdns && s.no_vcam && s.no_audio && s.background);
  EXPECT_EQ(s.autostart, Autostart::off);

  EXPECT_EQ(receive_settings({"--device", "x", "--gain", "64", "--autostart", "on"}).gain, 64.0f);
  EXPECT_EQ(receive_settings({"--autostart", "on"}).autostart, Autostart::on);
}

TEST(CommandLine, ValueIsTakenVerbatimAndLastOneWins) {
  const Settings s = receive_settings({"--device", "--no-audio"});
  EXPECT_EQ(s.device, "--no-audio");
  EXPECT_FALSE(s.no_audio);
  EXPECT_EQ(receive_settings({"--device", "a", "-d", "b"}).device, "b");
  EXPECT_EQ(receive_settings({"-d", ""}).device, "");
}

TEST(CommandLine, EarlyStopsIgnoreWhatFollows) {
  auto m = parse({"--list-devices", "--gain", "abc"});
  ASSERT_TRUE(m.ok());
  EXPECT_TRUE(std::holds_alternative<mode::ListDevices>(m.value()));

  m = parse({"--probe-camera", "X", "--list-cameras", "--bogus"});
  ASSERT_TRUE(m.ok());
  EXPECT_TRUE(std::holds_alternative<mode::ListCameras>(m.value()));

  m = parse({"--no-audio", "--check-device", "cable", "--unknown"});
  ASSERT_TRUE(m.ok());
  ASSERT_TRUE(std::holds_alternative<mode::CheckDevice>(m.value()));
  EXPECT_EQ(std::get<mode::CheckDevice>(m.value()).name, "cable");

  for (const char* help : {"-h", "--help"}) {
    m = parse({"--probe-camera", "X", help, "-D"});
    ASSERT_TRUE(m.ok());
    EXPECT_TRUE(std::holds_alternative<mode::Help>(m.value()));
  }
}

TEST(CommandLine, ProbeCameraTakesLastNameFramesAndDumpDirectory) {
  auto m = parse({"--autostart", "on", "--probe-camera", "A", "--frames", "10", "--probe-camera",
                  "B", "--dump-frames", "d", "--gain", "3"});
  ASSERT_TRUE(m.ok());
  ASSERT_TRUE(std::holds_alternative<mode::ProbeCamera>(m.value()));
  const auto& probe = std::get<mode::ProbeCamera>(m.value());
  EXPECT_EQ(probe.name, "B");
  EXPECT_EQ(probe.frames, 10u);
  EXPECT_EQ(probe.dump_frames, "d");
}

TEST(CommandLine, ErrorsBeforeAnEarlyStopAreReported) {
  EXPECT_EQ(error_of({"--gain", "abc", "--list-devices"}), "--gain needs a number");
}

TEST(CommandLine, UnknownArgumentsAreReportedAsTyped) {
  for (const char* arg : {"-D", "--Help", "--device=x", "-dg", "", "receive", "--no-Audio"}) {
    EXPECT_EQ(error_of({arg}), std::string("unknown argument: ") + arg);
  }
}

TEST(CommandLine, MissingValueNamesTheLongForm) {
  EXPECT_EQ(error_of({"-d"}), "--device needs a value");
  EXPECT_EQ(error_of({"-g"}), "--gain needs a value");
  for (const char* option : {"--device", "--gain", "--prefill-ms", "--frames", "--dump-frames",
                             "--autostart", "--probe-camera", "--check-device"}) {
    EXPECT_EQ(error_of({"--no-audio", option}), std::string(option) + " needs a value");
  }
}

TEST(CommandLine, GainRange) {
  for (const char* ok : {"64", "0.001", "1e1", "+2", "6.4E1", ".5", "5."}) {
    EXPECT_TRUE(parse({"--gain", ok}).ok()) << ok;
  }
  for (const char* out :
       {"0", "-0", "64.5", "-1", "nan", "NaN", "inf", "-Infinity", "1e40", "1e-50", "64.00001"}) {
    EXPECT_EQ(error_of({"--gain", out}), "--gain must be in (0, 64]") << out;
  }
  for (const char* bad : {"abc", "1,5", " 1", "1 ", "", "+", "-", ".", "1e", "e5", "0x10", "nan(1)",
                          "infinit", "--1", "+-1", "1..2"}) {
    EXPECT_EQ(error_of({"--gain", bad}), "--gain needs a number") << bad;
  }
}

TEST(CommandLine, PrefillRange) {
  EXPECT_EQ(receive_settings({"--prefill-ms", "0"}).prefill_ms, 0.0);
  EXPECT_EQ(receive_settings({"--prefill-ms", "999.99"}).prefill_ms, 999.99);
  EXPECT_EQ(receive_settings({"--prefill-ms", "1e-400"}).prefill_ms, 0.0);
  for (const char* out : {"1000", "-0.5", "nan", "inf", "1e400"}) {
    EXPECT_EQ(error_of({"--prefill-ms", out}), "--prefill-ms must be in [0, 1000)") << out;
  }
  EXPECT_EQ(error_of({"--prefill-ms", "forty"}), "--prefill-ms needs a number");
}

TEST(CommandLine, FrameCount) {
  EXPECT_EQ(receive_settings({"--frames", "+5"}).frames, 5u);
  EXPECT_EQ(receive_settings({"--frames", "4294967295"}).frames, 4294967295u);
  EXPECT_EQ(receive_settings({"--frames", "007"}).frames, 7u);
  for (const char* bad :
       {"-5", "4294967296", "", "+", "-", "5.0", "1e3", " 5", "++5", "99999999999999999999999"}) {
    EXPECT_EQ(error_of({"--frames", bad}), "--frames needs a number") << bad;
  }
  EXPECT_EQ(error_of({"--frames", "0"}), "--frames must be at least 1");
  EXPECT_EQ(error_of({"--frames", "+000"}), "--frames must be at least 1");
}

TEST(CommandLine, AutostartValue) {
  for (const char* bad : {"ON", "Off", "yes", "", "1"}) {
    EXPECT_EQ(error_of({"--autostart", bad}), "--autostart needs on|off") << bad;
  }
}

TEST(NumberSyntax, ValuesAndRangeEnds) {
  EXPECT_EQ(parse_decimal("40.5"), 40.5);
  EXPECT_EQ(parse_decimal("-2.5e-1"), -0.25);
  EXPECT_EQ(parse_decimal("INFINITY"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_decimal("-inf"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(*parse_decimal("+nAn")));
  EXPECT_EQ(parse_decimal("1e99999999999999999999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_decimal("0.000e99999"), 0.0);
  EXPECT_EQ(parse_decimal("123456e-400"), 0.0);
  EXPECT_EQ(parse_decimal("0.0001e309"), 1e305);
}

TEST(Help, TextIsExact) {
  const std::string system(platform::system_name());
  const std::string expected =
      "Korvex receiver: iPhone -> " + system +
      " wireless webcam + mic\n"
      "\n"
      "USAGE:\n"
      "  korvex-receiver [OPTIONS]\n"
      "\n"
      "OPTIONS:\n"
      "  -d, --device <NAME>    Output endpoint for the mic audio (substring match).\n"
      "                         Default: \"CABLE Input\" (VB-CABLE). \"default\" = system output.\n"
      "  -g, --gain <X>         Audio gain, 1 = unity (default).\n"
      "  --prefill-ms <MS>      Audio jitter-buffer prefill (default 40).\n"
      "  --no-mdns              Do not advertise over Bonjour.\n"
      "  --no-vcam              Do not register the Korvex virtual camera.\n"
      "  --no-audio             Do not open an audio output.\n"
      "  --list-devices         List output endpoints, then exit.\n"
      "  --check-device <NAME>  Exit 0 if an output endpoint matches NAME (substring), else 1.\n"
      "  --list-cameras         List video capture devices " +
      system +
      " sees, then exit.\n"
      "  --probe-camera <NAME>  Open that camera, read --frames frames (default 60), report fps; "
      "with\n"
      "                         --dump-frames also write the first and last frame. Then exit.\n"
      "  --frames <N>           Frame count for --probe-camera.\n"
      "  --dump-frames <DIR>    Write every 30th decoded frame's Y plane as frame-<n>.png.\n"
      "  --background           Hide the console window (used by autostart).\n"
      "  --autostart <on|off>   Register/unregister run-at-login with the given flags, then exit.\n"
      "  -h, --help             Show this help.\n";
  EXPECT_EQ(help_text(), expected);
}

}  // namespace
}  // namespace korvex::main
