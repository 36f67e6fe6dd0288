#include "debug_monitor_win.hpp"

#include <algorithm>
#include <cstring>

namespace korvex::test {
namespace {

constexpr DWORD kBufferSize = 4096;  // a process id, then the text

}  // namespace

DebugMonitor::DebugMonitor() {
  buffer_ready_ = CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY");
  data_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize,
                                L"DBWIN_BUFFER");
  if (mapping_ != nullptr) {
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  }
  ok_ = buffer_ready_ != nullptr && data_ready_ != nullptr && stop_ != nullptr && view_ != nullptr;
  if (ok_) {
    thread_ = std::thread([this] { run(); });
  }
}

DebugMonitor::~DebugMonitor() {
  if (thread_.joinable()) {
    SetEvent(stop_);
    thread_.join();
  }
  if (view_ != nullptr) {
    UnmapViewOfFile(view_);
  }
  for (HANDLE handle : {mapping_, stop_, data_ready_, buffer_ready_}) {
    if (handle != nullptr) {
      CloseHandle(handle);
    }
  }
}

void DebugMonitor::run() {
  const HANDLE waits[] = {stop_, data_ready_};
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    DWORD pid = 0;
    std::memcpy(&pid, view_, sizeof pid);
    const char* text = view_ + sizeof pid;
    std::string line(text, strnlen(text, kBufferSize - sizeof pid));
    SetEvent(buffer_ready_);
    if (pid != GetCurrentProcessId()) {
      continue;  // another program's
    }
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_all();
  }
}

bool DebugMonitor::wait_for(std::string_view text, std::chrono::milliseconds timeout,
                            std::vector<std::string>* seen) {
  std::unique_lock lock(mutex_);
  const bool found = arrived_.wait_for(lock, timeout, [&] {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& line) { return line.find(text) != line.npos; });
  });
  if (seen != nullptr) {
    *seen = lines_;
  }
  return found;
}

std::vector<std::string> DebugMonitor::lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}

}  // namespace korvex::test
