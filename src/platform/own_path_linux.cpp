#include <unistd.h>

#include "platform/os_error.hpp"
#include "platform/own_path.hpp"

namespace korvex::platform {

Result<std::string> own_program_path() {
  // readlink says nothing about a name it had to cut short: grow the buffer
  // until the link's text fits with room to spare.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      return fail(last_os_error_text());
    }
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace korvex::platform
