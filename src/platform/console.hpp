#pragma once

// The process's console: UTF-8 output, terminal detection, console events
// and the immediate exit that ends the receiver.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::platform {

// Writes UTF-8 text whole and unbuffered, so nothing is lost when the process
// ends at once. Write errors are ignored: the console is best effort.
void write_stdout(std::string_view text);
void write_stderr(std::string_view text);

bool stdout_is_terminal();

// Columns of the console window that standard output shows, asked anew on
// every call so that a resized window counts; none when standard output is
// not a console or the system does not say.
std::optional<size_t> console_columns();

// Hides the console window, if the process has one; output still goes to it.
// Linux has no window of the process's own to hide.
void hide_console();

// When the console window is the process's own, made for it as it started
// (from the Start menu, say) and so closing as it ends: prints `prompt` and
// waits for Enter, so that what it printed can be read. Otherwise, and on
// Linux, does nothing.
void hold_own_console(std::string_view prompt);

// Calls `handler` on a thread of its own when the user asks the process to
// end: Ctrl-C, Ctrl-Break, closing the console, logoff or shutdown on Windows;
// SIGINT, SIGTERM and SIGHUP on Linux. The handler is expected to end the
// process. Must be called before any other thread starts. Returns false when
// it could not be installed.
bool install_console_event_handler(void (*handler)());

// Ends the process at once with `status`: no destructors, no joins.
[[noreturn]] void exit_process(int status);

// The arguments after the program name, as UTF-8, split the platform's usual way.
std::vector<std::string> command_line_arguments(int argc, char** argv);

// "Windows" or "Linux", for the texts that name the system.
std::string_view system_name();

}  // namespace korvex::platform
