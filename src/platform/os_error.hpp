#pragma once

// Operating-system errors rendered the one way the program shows them:
// "{system message} (os error {code})".

#include <string>

namespace korvex::platform {

// The code of the last failed system call on this thread (errno on POSIX,
// GetLastError on Windows).
int last_os_error();

std::string os_error_text(int code);

inline std::string last_os_error_text() {
  return os_error_text(last_os_error());
}

}  // namespace korvex::platform
