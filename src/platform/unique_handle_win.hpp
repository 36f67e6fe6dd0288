#pragma once

// Owns one Windows kernel object handle and closes it when it goes. Both of
// the system's "no handle" values, NULL and INVALID_HANDLE_VALUE, hold none,
// so the result of any creating call can be taken as it comes.

#include <utility>

namespace korvex::platform {

class UniqueHandle {
 public:
  using Native = void*;  // HANDLE, without pulling <windows.h> into every user

  UniqueHandle() = default;
  explicit UniqueHandle(Native handle) : handle_(normal(handle)) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  explicit operator bool() const { return handle_ != nullptr; }
  Native get() const { return handle_; }
  Native release() { return std::exchange(handle_, nullptr); }
  void reset(Native handle = nullptr);

 private:
  static Native normal(Native handle) {
    return handle == reinterpret_cast<Native>(-1) ? nullptr : handle;  // INVALID_HANDLE_VALUE
  }

  Native handle_ = nullptr;
};

}  // namespace korvex::platform
