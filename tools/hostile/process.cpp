#include "process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

extern char** environ;

namespace korvex::hostile {
namespace {

using namespace std::chrono_literals;

uint64_t status_field(const std::string& status, const std::string& key) {
  const size_t at = status.find("\n" + key + ":");
  if (at == std::string::npos) {
    return 0;
  }
  return std::strtoull(status.c_str() + at + key.size() + 2, nullptr, 10);
}

}  // namespace

uint64_t wall_clock_us() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

std::optional<Child> Child::start(const std::vector<std::string>& argv, int stdout_fd) {
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return std::nullopt;
  }
  return Child(pid);
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), reaped_(other.reaped_) {}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    stop(2000);
    pid_ = std::exchange(other.pid_, -1);
    reaped_ = other.reaped_;
  }
  return *this;
}

Child::~Child() {
  stop(2000);
}

bool Child::running() {
  if (pid_ < 0 || reaped_) {
    return false;
  }
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
  }
  return !reaped_;
}

void Child::stop(int grace_ms) {
  if (!running()) {
    return;
  }
  ::kill(pid_, SIGTERM);
  for (int waited = 0; waited < grace_ms && running(); waited += 20) {
    std::this_thread::sleep_for(20ms);
  }
  if (running()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    reaped_ = true;
  }
}

void LegitPhone::start() {
  stopping_ = false;
  thread_ = std::thread([this] {
    while (!stopping_.load()) {
      auto sim = Child::start(argv_);
      if (sim) {
        ++connections_;
        while (!stopping_.load() && sim->running()) {
          std::this_thread::sleep_for(20ms);
        }
        sim->stop(3000);  // SIGTERM: the simulator says Bye
      }
      std::this_thread::sleep_for(200ms);
    }
  });
}

void LegitPhone::stop() {
  stopping_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool SectionFollower::start(std::vector<std::string> argv) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    return false;
  }
  child_ = Child::start(argv, pipe_fds[1]);
  ::close(pipe_fds[1]);
  if (!child_) {
    ::close(pipe_fds[0]);
    return false;
  }
  reader_ = std::thread([this, fd = pipe_fds[0]] { read_lines(fd); });
  return true;
}

void SectionFollower::stop() {
  if (child_) {
    child_->stop(3000);
  }
  if (reader_.joinable()) {
    reader_.join();  // the pipe ends with the follower
  }
}

void SectionFollower::read_lines(int fd) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::istringstream line(pending.substr(0, end));
      pending.erase(0, end + 1);
      std::string kind;
      line >> kind;
      Picture picture;
      if (kind == "frame") {
        uint64_t index = 0;
        line >> index >> picture.send_us >> picture.seen_us;
        picture.readable = true;
      } else if (kind == "unreadable") {
        line >> picture.seen_us;
      } else {
        continue;  // the summary at the end
      }
      std::lock_guard lock(lock_);
      pictures_.push_back(picture);
      unreadable_ += picture.readable ? 0 : 1;
    }
  }
  ::close(fd);
}

uint64_t SectionFollower::unreadable() const {
  std::lock_guard lock(lock_);
  return unreadable_;
}

uint64_t SectionFollower::pictures() const {
  std::lock_guard lock(lock_);
  return pictures_.size();
}

std::optional<SectionFollower::Picture> SectionFollower::first_sent_since(uint64_t since_us,
                                                                          int timeout_ms) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t checked = 0;
  for (;;) {
    {
      std::lock_guard lock(lock_);
      for (; checked < pictures_.size(); ++checked) {
        const Picture& p = pictures_[checked];
        if (p.readable && p.send_us >= since_us) {
          return p;
        }
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(5ms);
  }
}

ProcessFigures read_process(pid_t pid) {
  ProcessFigures figures;
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream file(dir + "/status");
  if (!file) {
    return figures;
  }
  std::stringstream text;
  text << "\n" << file.rdbuf();
  const std::string status = text.str();
  const size_t state = status.find("\nState:");
  // "State:\tS (sleeping)"; a zombie (Z) or a dead task (X) has exited.
  figures.alive = state != std::string::npos && state + 8 < status.size() &&
                  status[state + 8] != 'Z' && status[state + 8] != 'X';
  figures.threads = status_field(status, "Threads");
  figures.rss_kib = status_field(status, "VmRSS");
  figures.peak_rss_kib = status_field(status, "VmHWM");
  if (DIR* fds = ::opendir((dir + "/fd").c_str())) {
    while (const dirent* entry = ::readdir(fds)) {
      figures.fds += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(fds);
  }
  return figures;
}

void reset_peak(pid_t pid) {
  std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}

}  // namespace korvex::hostile
