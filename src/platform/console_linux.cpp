#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/console.hpp"
#include "platform/thread.hpp"

namespace korvex::platform {
namespace {

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

sigset_t console_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void write_stdout(std::string_view text) {
  write_all(STDOUT_FILENO, text);
}
void write_stderr(std::string_view text) {
  write_all(STDERR_FILENO, text);
}

bool stdout_is_terminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

std::optional<size_t> console_columns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    return std::nullopt;
  }
  return size.ws_col;
}

void hide_console() {}

void hold_own_console(std::string_view) {}

bool install_console_event_handler(void (*handler)()) {
  // The signals are blocked here, before any other thread exists, so every
  // thread inherits the mask and only the waiting thread below receives them.
  // The handler then runs as ordinary code, free to take locks.
  sigset_t set = console_signals();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
    return false;
  }
  auto started = spawn_thread("signals", [set, handler] {
    int signal_number = 0;
    while (sigwait(&set, &signal_number) != 0) {
    }
    handler();
  });
  if (!started) {
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return false;
  }
  return true;
}

void exit_process(int status) {
  std::_Exit(status);
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  return args;
}

std::string_view system_name() {
  return "Linux";
}

}  // namespace korvex::platform
