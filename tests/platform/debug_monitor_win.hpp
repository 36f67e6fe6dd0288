#pragma once

// What a debug-output viewer (DebugView) sees, for tests: the lines this
// process sends with OutputDebugString, received through the system's
// DBWIN buffer as a viewer receives them.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvex::test {

class DebugMonitor {
 public:
  DebugMonitor();  // listening once it returns; check ok()
  ~DebugMonitor();
  DebugMonitor(const DebugMonitor&) = delete;
  DebugMonitor& operator=(const DebugMonitor&) = delete;

  bool ok() const { return ok_; }

  // Waits up to `timeout` for a line that contains `text`; every line seen
  // so far, for the failure message, in `seen`.
  bool wait_for(std::string_view text, std::chrono::milliseconds timeout,
                std::vector<std::string>* seen = nullptr);
  std::vector<std::string> lines();

 private:
  void run();

  HANDLE buffer_ready_ = nullptr;
  HANDLE data_ready_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE mapping_ = nullptr;
  const char* view_ = nullptr;
  bool ok_ = false;

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> lines_;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace korvex::test
