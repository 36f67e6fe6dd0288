#pragma once

// The processes the driver runs beside its attacks, and the receiver it
// watches through /proc.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvex::hostile {

uint64_t wall_clock_us();

// A child process with its output discarded, or read line by line.
class Child {
 public:
  // Starts `argv`; empty when it could not be started.
  static std::optional<Child> start(const std::vector<std::string>& argv, int stdout_fd = -1);
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  ~Child();

  bool running();
  // SIGTERM, then SIGKILL if it is still there after `grace_ms`.
  void stop(int grace_ms);

 private:
  explicit Child(pid_t pid) : pid_(pid) {}
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// The simulator streaming 720p30 with audio for as long as it runs; started
// again whenever it ends (an attacker takes over its connection).
class LegitPhone {
 public:
  LegitPhone(std::vector<std::string> sim_argv) : argv_(std::move(sim_argv)) {}
  ~LegitPhone() { stop(); }
  void start();
  void stop();
  uint64_t connections() const { return connections_.load(); }

 private:
  std::vector<std::string> argv_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> connections_{0};
  std::thread thread_;
};

// Follows `korvex-frames --follow`: every picture the section shows, with
// its stamp if it reads.
class SectionFollower {
 public:
  struct Picture {
    bool readable = false;
    uint64_t send_us = 0;
    uint64_t seen_us = 0;
  };

  bool start(std::vector<std::string> argv);
  void stop();
  ~SectionFollower() { stop(); }

  uint64_t unreadable() const;
  // The first readable picture sent at or after `since_us`, waiting up to `timeout_ms`.
  std::optional<Picture> first_sent_since(uint64_t since_us, int timeout_ms) const;
  uint64_t pictures() const;

 private:
  void read_lines(int fd);
  std::optional<Child> child_;
  std::thread reader_;
  mutable std::mutex lock_;
  std::vector<Picture> pictures_;  // guarded by lock_
  uint64_t unreadable_ = 0;        // guarded by lock_
};

// What /proc says about the receiver.
struct ProcessFigures {
  bool alive = false;
  uint64_t threads = 0;
  uint64_t fds = 0;
  uint64_t rss_kib = 0;
  uint64_t peak_rss_kib = 0;  // since the last reset_peak
};

ProcessFigures read_process(pid_t pid);
// Starts the peak resident size over from now (/proc/PID/clear_refs).
void reset_peak(pid_t pid);

}  // namespace korvex::hostile
