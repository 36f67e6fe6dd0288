#include "platform/unique_handle_win.hpp"

#include <windows.h>

namespace korvex::platform {

void UniqueHandle::reset(Native handle) {
  handle = normal(handle);
  if (handle_ != nullptr && handle_ != handle) {
    CloseHandle(handle_);
  }
  handle_ = handle;
}

}  // namespace korvex::platform
