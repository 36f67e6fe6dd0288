#include <windows.h>
// windows.h must come first.
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/own_path.hpp"
#include "platform/process_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {
namespace {

// Arguments whose quoting goes wrong in the usual ways: backslashes before a
// quote or at the end, quotes, the empty argument, white space of every kind.
const std::vector<std::string> kHardArguments = {
    "",
    "plain",
    "two words",
    "tab\there",
    "line\nbreak",
    "trailing\\",
    "trailing two\\\\",
    "C:\\Program Files\\Korvex\\",
    "say \"hi\"",
    "\"",
    "\"\"",
    "\\\"",
    "a\\\\\"b c",
    "a\\b\\\\c",
    " ",
    "ends with space ",
    "--device \"CABLE Input\" --gain 2",
    "Z\xC3\xBC \xE2\x98\x83 \xF0\x9F\x93\xB1",
};

std::vector<std::string> split_like_windows(const std::string& command_line) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(utf8_to_utf16(command_line).c_str(), &count);
  for (int i = 1; i < count; ++i) {
    args.push_back(utf16_to_utf8(wide[i]));
  }
  LocalFree(wide);
  return args;
}

TEST(QuoteArgument, CommandLineToArgvWReadsEveryArgumentBack) {
  for (const bool always : {false, true}) {
    std::string command_line = "\"C:\\Program Files\\prog.exe\"";
    for (const auto& argument : kHardArguments) {
      command_line += ' ';
      command_line += quote_argument(argument, always);
    }
    EXPECT_EQ(split_like_windows(command_line), kHardArguments) << command_line;
  }
}

TEST(QuoteArgument, LeavesArgumentsWithoutSpacesOrQuotesAlone) {
  EXPECT_EQ(quote_argument("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
            "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_EQ(quote_argument("/v"), "/v");
  EXPECT_EQ(quote_argument("default", true), "\"default\"");
  EXPECT_EQ(quote_argument("My \"Cable\" X\\", true), "\"My \\\"Cable\\\" X\\\\\"");
}

std::filesystem::path test_directory() {
  const auto own = own_program_path();
  EXPECT_TRUE(own.ok()) << own.error();
  return std::filesystem::path(utf8_to_utf16(own.value())).parent_path();
}

std::vector<std::string> lines_with(const std::string& text, std::string_view prefix) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line.starts_with(prefix)) {
      lines.push_back(line.substr(prefix.size()));
    }
    at = end + 1;
  }
  return lines;
}

TEST(RunProgram, PassesArgumentsIntactAndCollectsBothFullPipesAndTheExitCode) {
  const std::string child = utf16_to_utf8((test_directory() / L"process-child.exe").c_str());
  const auto run = run_program(child, kHardArguments);
  ASSERT_TRUE(run.ok()) << run.error();
  EXPECT_EQ(run->exit_code, 7u);
  EXPECT_EQ(lines_with(run->standard_output, "arg:").size(), kHardArguments.size());
  // The line break inside one argument splits its report; compare the rest whole.
  EXPECT_NE(run->standard_output.find("arg:two words\narg:tab\there\n"), std::string::npos);
  EXPECT_NE(run->standard_output.find("arg:a\\\\\"b c\narg:a\\b\\\\c\n"), std::string::npos);
  EXPECT_EQ(lines_with(run->standard_output, "input:"), std::vector<std::string>{"empty"});
  EXPECT_TRUE(run->standard_output.ends_with("\n" + std::string(256 * 1024, 'o')));
  EXPECT_EQ(run->standard_error, std::string(256 * 1024, 'e'));
}

// A program copied into directories whose names have spaces and a non-ASCII letter.
class ProgramCopy {
 public:
  ProgramCopy(const std::wstring& base, const std::wstring& program) {
    std::wstring directory = base;
    if (directory.ends_with(L'\\')) {
      directory.pop_back();
    }
    for (int i = 0; i < 2; ++i) {
      directory += L"\\a directory name with spaces \u00fc " + std::to_wstring(i);
      if (!CreateDirectoryW(directory.c_str(), nullptr)) {
        return;
      }
      directories_.push_back(directory);
    }
    const std::wstring copy = directory + L"\\process child.exe";
    if (CopyFileW(program.c_str(), copy.c_str(), TRUE)) {
      path_ = copy;
    }
  }
  ~ProgramCopy() {
    if (!path_.empty()) {
      DeleteFileW(path_.c_str());
    }
    for (auto it = directories_.rbegin(); it != directories_.rend(); ++it) {
      RemoveDirectoryW(it->c_str());
    }
  }
  const std::wstring& path() const { return path_; }

 private:
  std::vector<std::wstring> directories_;
  std::wstring path_;
};

TEST(RunProgram, ProgramInAPathWithSpacesKnowsItsOwnPath) {
  const ProgramCopy copy(std::filesystem::temp_directory_path().wstring(),
                         (test_directory() / L"process-child.exe").wstring());
  ASSERT_FALSE(copy.path().empty()) << "cannot copy the child: error " << GetLastError();
  const std::string path = utf16_to_utf8(copy.path().c_str());

  const auto run = run_program(path, {"x"});
  ASSERT_TRUE(run.ok()) << run.error();
  EXPECT_EQ(lines_with(run->standard_output, "path:"), std::vector<std::string>{path});
  EXPECT_EQ(lines_with(run->standard_output, "arg:"), std::vector<std::string>{"x"});
}

TEST(RunProgram, AProgramThatIsNotThereFailsWithTheSystemError) {
  const auto run = run_program("C:\\no such directory\\no such program.exe", {});
  ASSERT_FALSE(run.ok());
  EXPECT_TRUE(run.error().ends_with("(os error 2)") || run.error().ends_with("(os error 3)"))
      << run.error();
}

TEST(SystemProgramPath, IsInTheSystemDirectory) {
  const auto reg = system_program_path("reg.exe");
  ASSERT_TRUE(reg.ok()) << reg.error();
  EXPECT_TRUE(std::filesystem::exists(utf8_to_utf16(reg.value()))) << reg.value();
  EXPECT_TRUE(reg->ends_with("\\system32\\reg.exe") || reg->ends_with("\\System32\\reg.exe"))
      << reg.value();
}

}  // namespace
}  // namespace korvex::platform
