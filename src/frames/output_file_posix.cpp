#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "frames/output_file.hpp"
#include "platform/os_error.hpp"

namespace korvex {

Result<OutputFile> OutputFile::create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    return fail(platform::last_os_error_text());
  }
  return OutputFile(fd);
}

OutputFile::OutputFile(OutputFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

OutputFile::~OutputFile() {
  close();
}

void OutputFile::close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

Result<void> OutputFile::write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return fail(platform::last_os_error_text());
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

}  // namespace korvex
