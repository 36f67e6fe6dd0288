#include <fmt/format.h>

#include "main/autostart.hpp"
#include "main/autostart_command.hpp"
#include "main/autostart_reg.hpp"
#include "platform/console.hpp"
#include "platform/own_path.hpp"
#include "platform/process_win.hpp"

namespace korvex::main {
namespace {

int failed(const std::string& message) {
  platform::write_stderr(fmt::format("autostart: {}\n", message));
  return 1;
}

std::string always_quoted(std::string_view argument) {
  return platform::quote_argument(argument, true);
}

Result<platform::ProcessOutput> run_reg(const std::vector<std::string>& arguments) {
  auto reg = platform::system_program_path("reg.exe");
  if (!reg) {
    return fail(reg.error());
  }
  return platform::run_program(reg.value(), arguments);
}

int register_autostart(const Settings& settings) {
  const auto program = platform::own_program_path();
  if (!program) {
    return failed("cannot resolve own path: " + program.error());
  }
  const std::string command_line = autostart_command_line(program.value(), settings, always_quoted);
  const auto reg = run_reg(reg_add_arguments(command_line));
  if (!reg) {
    return failed("reg add failed to run: " + reg.error());
  }
  if (auto failure = reg_add_failure(reg->exit_code, reg->standard_output, reg->standard_error)) {
    return failed(*failure);
  }
  platform::write_stdout(fmt::format("autostart on: {}\n", command_line));
  return 0;
}

int unregister_autostart() {
  const auto reg = run_reg(reg_delete_arguments());
  if (!reg) {
    return failed("reg delete failed to run: " + reg.error());
  }
  if (auto failure =
          reg_delete_failure(reg->exit_code, reg->standard_output, reg->standard_error)) {
    return failed(*failure);
  }
  platform::write_stdout("autostart off\n");
  return 0;
}

}  // namespace

int set_autostart(const Settings& settings, bool on) {
  return on ? register_autostart(settings) : unregister_autostart();
}

}  // namespace korvex::main
