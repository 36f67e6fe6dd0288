#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "main/autostart_command.hpp"
#include "main/autostart_reg.hpp"
#include "main/desktop_entry.hpp"
#include "main/settings.hpp"

namespace korvex::main {
namespace {

std::string bracketed(std::string_view argument) {
  std::string out = "[";
  out += argument;
  out += ']';
  return out;
}

std::string command_for(std::vector<std::string> args) {
  const auto mode = parse_args(args);
  EXPECT_TRUE(mode.ok()) << (mode.ok() ? "" : mode.error());
  if (!mode.ok() || !std::holds_alternative<mode::Receive>(mode.value())) {
    return "<not a receive mode>";
  }
  return autostart_command_line("C:\\K\\korvex-receiver.exe",
                                std::get<mode::Receive>(mode.value()).settings, bracketed);
}

TEST(AutostartCommand, DefaultsGiveThePathAndBackgroundOnly) {
  EXPECT_EQ(command_for({"--autostart", "on"}), "[C:\\K\\korvex-receiver.exe] --background");
  EXPECT_EQ(command_for({"--autostart", "on", "--gain", "1.0", "--prefill-ms", "40", "--device",
                         "CABLE Input", "--background"}),
            "[C:\\K\\korvex-receiver.exe] --background");
}

TEST(AutostartCommand, OptionsFollowInTheirOwnOrderWhateverTheOrderGiven) {
  EXPECT_EQ(command_for({"--autostart", "on", "--gain", "2", "--no-vcam"}),
            "[C:\\K\\korvex-receiver.exe] --background --gain 2 --no-vcam");
  EXPECT_EQ(command_for({"--no-audio", "--no-vcam", "--no-mdns", "--prefill-ms", "0.25", "-g",
                         "1.5", "-d", "default", "--autostart", "on"}),
            "[C:\\K\\korvex-receiver.exe] --background --device [default] --gain 1.5 "
            "--prefill-ms 0.25 --no-mdns --no-vcam --no-audio");
}

TEST(AutostartCommand, ProbeAndDumpOptionsAreNeverWritten) {
  EXPECT_EQ(command_for({"--autostart", "on", "--frames", "10", "--dump-frames", "D",
                         "--prefill-ms", "40.5"}),
            "[C:\\K\\korvex-receiver.exe] --background --prefill-ms 40.5");
}

TEST(ShortestDecimal, ReadsBackExactlyAndNeverUsesAnExponent) {
  EXPECT_EQ(shortest_decimal(2.0f), "2");
  EXPECT_EQ(shortest_decimal(1.5f), "1.5");
  EXPECT_EQ(shortest_decimal(0.25f), "0.25");
  EXPECT_EQ(shortest_decimal(64.0f), "64");
  EXPECT_EQ(shortest_decimal(0.1f), "0.1");  // not 0.100000001, the double nearest the float
  EXPECT_EQ(shortest_decimal(1e-7f), "0.0000001");
  EXPECT_EQ(shortest_decimal(40.5), "40.5");
  EXPECT_EQ(shortest_decimal(0.0), "0");
  EXPECT_EQ(shortest_decimal(999.9999999999999), "999.9999999999999");
  EXPECT_EQ(shortest_decimal(1e21), "1000000000000000000000");
  for (const double value : {1.0 / 3.0, 2e-300, 123.456e-10}) {
    const std::string text = shortest_decimal(value);
    EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
  const std::string third = shortest_decimal(1.0f / 3.0f);
  EXPECT_EQ(third, "0.33333334");
  EXPECT_EQ(std::strtof(third.c_str(), nullptr), 1.0f / 3.0f);
}

TEST(RegAnswer, AddFailureIsRegsMessageTrimmedWithInvalidBytesReplaced) {
  EXPECT_EQ(reg_add_failure(0, "", "warning\r\n"), std::nullopt);
  EXPECT_EQ(reg_add_failure(1, "", "\r\nERROR: Access is denied.\r\n\r\n"),
            "ERROR: Access is denied.");
  EXPECT_EQ(reg_add_failure(1, "", "Zugriff verweigert \xFF\r\n"), "Zugriff verweigert \uFFFD");
  EXPECT_EQ(reg_add_failure(5, "", ""), "");
  // Standard error is the message; standard output stands in only when it is empty.
  EXPECT_EQ(reg_add_failure(1, "partial output\r\n", "ERROR: Access is denied.\r\n"),
            "ERROR: Access is denied.");
  EXPECT_EQ(reg_add_failure(1, "reg: Access denied\r\n", " \r\n"), "reg: Access denied");
}

TEST(RegAnswer, DeleteOfAMissingValueCountsAsDoneAndOtherFailuresAreLowerCased) {
  EXPECT_EQ(reg_delete_failure(0, "", ""), std::nullopt);
  EXPECT_EQ(reg_delete_failure(1, "",
                               "ERROR: The system was unable to find the specified "
                               "registry key or value.\r\n"),
            std::nullopt);
  // As Wine's reg.exe says it: on standard output.
  EXPECT_EQ(reg_delete_failure(1, "reg: Unable to find the specified registry value\r\n", ""),
            std::nullopt);
  EXPECT_EQ(reg_delete_failure(1, "", "ERROR: UNABLE TO FIND the value.\r\n"), std::nullopt);
  EXPECT_EQ(reg_delete_failure(1, "", "  ERROR: Access is denied.\r\n"),
            "error: access is denied.");
  EXPECT_EQ(reg_delete_failure(1, "unable to find", "ERROR: Access is denied."),
            "error: access is denied.");
  // Lower-casing covers all of Unicode, not just ASCII.
  EXPECT_EQ(reg_delete_failure(1, "",
                               "\xC3\x89"
                               "CHEC : ACC\xC3\x88S REFUS\xC3\x89\r\n"),
            "\xC3\xA9"
            "chec : acc\xC3\xA8s refus\xC3\xA9");
  EXPECT_EQ(reg_delete_failure(1, "", "\xD0\x9E\xD0\xA8\xD0\x98\xD0\x91\xD0\x9A\xD0\x90 \xFF"),
            "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 \uFFFD");
}

TEST(DesktopEntry, ExecArgumentsAreQuotedAndEscapedForTheDesktopFormat) {
  EXPECT_EQ(quote_exec_argument("/usr/bin/korvex-receiver"), "\"/usr/bin/korvex-receiver\"");
  EXPECT_EQ(quote_exec_argument("My \"Cable\" $HOME `x` \\ 100%"),
            "\"My \\\"Cable\\\" \\$HOME \\`x\\` \\\\ 100%%\"");
  EXPECT_EQ(quote_exec_argument(""), "\"\"");
}

TEST(DesktopEntry, ExecValueEscapesBackslashesAndLineBreaksOnTop) {
  // A backslash in an argument is two once quoted and four in the file.
  EXPECT_EQ(exec_value(quote_exec_argument("a\\b")).value(), "\"a\\\\\\\\b\"");
  EXPECT_EQ(exec_value("\"x\ny\tz\rw\"").value(), "\"x\\ny\\tz\\rw\"");
  EXPECT_EQ(exec_value("\"caf\xC3\xA9\"").value(), "\"caf\xC3\xA9\"");
  EXPECT_FALSE(exec_value("\"a\x01"
                          "b\"")
                   .ok());
  EXPECT_FALSE(exec_value("\"a\x7F\"").ok());
  EXPECT_FALSE(exec_value("\"a\xFF\"").ok());
}

}  // namespace
}  // namespace korvex::main
