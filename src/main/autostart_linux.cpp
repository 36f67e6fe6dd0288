#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <fmt/format.h>

#include "main/autostart.hpp"
#include "main/autostart_command.hpp"
#include "main/desktop_entry.hpp"
#include "platform/console.hpp"
#include "platform/environment.hpp"
#include "platform/os_error.hpp"
#include "platform/own_path.hpp"
#include "platform/unique_fd.hpp"

namespace korvex::main {
namespace {

constexpr const char* kEntryName = "korvex-receiver.desktop";

int failed(std::string_view message) {
  platform::write_stderr(fmt::format("autostart: {}\n", message));
  return 1;
}

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart. A relative
// XDG_CONFIG_HOME is ignored, as the base directory rules ask.
Result<std::string> autostart_directory() {
  const auto config = platform::environment_variable("XDG_CONFIG_HOME");
  if (config && !config->empty() && config->front() == '/') {
    return *config + "/autostart";
  }
  const auto home = platform::environment_variable("HOME");
  if (!home || home->empty()) {
    return fail(fmt::format("~/.config/autostart/{}: HOME is not set", kEntryName));
  }
  return *home + "/.config/autostart";
}

// Creates `directory` and any missing parents, private to the user as the
// base directory rules ask; a failure names the directory that failed.
Result<void> make_directories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    struct stat info {};
    const bool exists = ::stat(part.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (!exists && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return fail(fmt::format("{}: {}", part, platform::last_os_error_text()));
    }
    if (slash == std::string::npos) {
      return {};
    }
  }
}

Result<void> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return fail(platform::last_os_error_text());
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

// Writes a temporary file beside `path` and renames it over `path`, so that a
// session starting meanwhile reads the old entry or the new one, never half.
Result<void> replace_file(const std::string& path, std::string_view text) {
  std::string temporary = path + ".XXXXXX";
  platform::UniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!file) {
    return fail(platform::last_os_error_text());
  }
  Result<void> done = write_all(file.get(), text);
  if (done && (::fchmod(file.get(), 0644) != 0 || ::fsync(file.get()) != 0)) {
    done = fail(platform::last_os_error_text());
  }
  file.reset();
  if (done && ::rename(temporary.c_str(), path.c_str()) != 0) {
    done = fail(platform::last_os_error_text());
  }
  if (!done) {
    ::unlink(temporary.c_str());
  }
  return done;
}

int register_autostart(const Settings& settings) {
  const auto directory = autostart_directory();
  if (!directory) {
    return failed(directory.error());
  }
  const std::string path = directory.value() + "/" + kEntryName;
  const auto program = platform::own_program_path();
  if (!program) {
    return failed("cannot resolve own path: " + program.error());
  }
  const auto exec =
      exec_value(autostart_command_line(program.value(), settings, quote_exec_argument));
  if (!exec) {
    return failed(path + ": " + exec.error());
  }
  if (auto made = make_directories(directory.value()); !made) {
    return failed(made.error());
  }
  if (auto written = replace_file(path, autostart_entry(exec.value())); !written) {
    return failed(path + ": " + written.error());
  }
  platform::write_stdout(fmt::format("autostart on: {}\n", exec.value()));
  return 0;
}

int unregister_autostart() {
  const auto directory = autostart_directory();
  if (!directory) {
    return failed(directory.error());
  }
  const std::string path = directory.value() + "/" + kEntryName;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return failed(path + ": " + platform::last_os_error_text());
  }
  platform::write_stdout("autostart off\n");
  return 0;
}

}  // namespace

int set_autostart(const Settings& settings, bool on) {
  return on ? register_autostart(settings) : unregister_autostart();
}

}  // namespace korvex::main
