#pragma once

// A file created (or truncated) for writing, with errors in the program's
// "{message} (os error {n})" form. Closed when the object goes.

#include <cstdint>
#include <span>
#include <string>

#include "common/result.hpp"
#ifdef _WIN32
#include "platform/unique_handle_win.hpp"
#else
#include "platform/unique_fd.hpp"
#endif

namespace korvex::platform {

class OutputFile {
 public:
  // Creates the file at the UTF-8 `path`, replacing an existing one. Fails
  // with the system's error text alone: the caller names the file.
  static Result<OutputFile> create(const std::string& path);

  // Writes all of `bytes`; fails with the system's error text alone.
  Result<void> write(std::span<const uint8_t> bytes);

 private:
#ifdef _WIN32
  using Owner = UniqueHandle;
#else
  using Owner = UniqueFd;
#endif
  explicit OutputFile(Owner file) : file_(std::move(file)) {}

  Owner file_;
};

}  // namespace korvex::platform
