#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_error.hpp"
#include "platform/output_file.hpp"

namespace korvex::platform {

Result<OutputFile> OutputFile::create(const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file) {
    return fail(last_os_error_text());
  }
  return OutputFile(std::move(file));
}

Result<void> OutputFile::write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(file_.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return fail(last_os_error_text());
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

}  // namespace korvex::platform
