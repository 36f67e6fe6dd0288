// Started by the process tests: tells what it was given and floods both output
// pipes, so that a parent that drains them one after the other hangs.

#include <windows.h>
// windows.h must come first.
#include <shellapi.h>

#include <string>

#include "platform/own_path.hpp"
#include "platform/system_text_win.hpp"

namespace {

void write_all(DWORD which, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main() {
  using namespace korvex::platform;
  std::string report;
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; i < count; ++i) {
    report += "arg:" + utf16_to_utf8(args[i]) + "\n";
  }
  LocalFree(args);
  const auto own = own_program_path();
  report += "path:" + (own ? own.value() : "<" + own.error() + ">") + "\n";
  char byte = 0;
  DWORD got = 0;
  const bool input_empty =
      !ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) || got == 0;
  report += input_empty ? "input:empty\n" : "input:data\n";

  write_all(STD_ERROR_HANDLE, std::string(256 * 1024, 'e'));
  write_all(STD_OUTPUT_HANDLE, report + std::string(256 * 1024, 'o'));
  return 7;
}
