#include <windows.h>
// windows.h must come first.
#include <shellapi.h>

#include "platform/console.hpp"
#include "platform/system_text_win.hpp"
#include "platform/thread_end_win.hpp"

namespace korvex::platform {
namespace {

void (*g_console_handler)() = nullptr;

BOOL WINAPI on_console_control(DWORD) {
  g_console_handler();
  return TRUE;
}

void write_handle(DWORD which, std::string_view text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) {
    return;
  }
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A real console: write UTF-16 so that names in any script show correctly
    // whatever the console's code page is.
    const std::wstring wide = utf8_to_utf16(text);
    const wchar_t* data = wide.data();
    size_t left = wide.size();
    while (left > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(left > 16384 ? 16384 : left);
      if (!WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0) {
        return;
      }
      data += written;
      left -= written;
    }
    return;
  }
  // Redirected to a file or pipe: the UTF-8 bytes as they are.
  while (!text.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

}  // namespace

void write_stdout(std::string_view text) {
  write_handle(STD_OUTPUT_HANDLE, text);
}
void write_stderr(std::string_view text) {
  write_handle(STD_ERROR_HANDLE, text);
}

bool stdout_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::optional<size_t> console_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return std::nullopt;
  }
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  if (columns <= 0) {
    return std::nullopt;
  }
  return static_cast<size_t>(columns);
}

void hide_console() {
  HWND window = GetConsoleWindow();
  if (window != nullptr) {
    ShowWindow(window, SW_HIDE);
  }
}

void hold_own_console(std::string_view prompt) {
  // Standard input must be the console too: a redirected input has no one
  // to press Enter.
  DWORD mode = 0;
  DWORD processes[2];
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (GetConsoleWindow() == nullptr || !GetConsoleMode(input, &mode) ||
      GetConsoleProcessList(processes, 2) != 1) {
    return;
  }
  write_stdout(prompt);
  char line[256];
  DWORD read = 0;
  ReadFile(input, line, sizeof(line), &read, nullptr);
}

bool install_console_event_handler(void (*handler)()) {
  // Windows runs the handler on a thread it creates for each event.
  g_console_handler = handler;
  return SetConsoleCtrlHandler(on_console_control, TRUE) != 0;
}

void exit_process(int status) {
  // At once, as on Linux: ExitProcess would first run every DLL's detach code
  // while the audio render and network threads are still working, which can
  // crash the exit (seen with the audio stack under Wine). Threads that are
  // ending on their own (a phone's reader just after it left) are let go
  // first: terminated half-way through their exit, they crash it as well.
  settle_spawned_threads();
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));  // not reached
}

std::vector<std::string> command_line_arguments(int, char**) {
  // The narrow argv is in the ANSI code page; the wide command line keeps
  // every character.
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return args;
  }
  for (int i = 1; i < count; ++i) {
    args.push_back(utf16_to_utf8(wide[i]));
  }
  LocalFree(wide);
  return args;
}

std::string_view system_name() {
  return "Windows";
}

}  // namespace korvex::platform
