#pragma once

// A file created (or truncated) for writing, with errors in the program's
// "{message} (os error {n})" form. Closed when the object goes.

#include <cstdint>
#include <span>
#include <string>

#include "common/result.hpp"

namespace korvex {

class OutputFile {
 public:
  // Creates the file at the UTF-8 `path`, replacing an existing one. Fails
  // with the system's error text alone.
  static Result<OutputFile> create(const std::string& path);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Writes all of `bytes`; fails with the system's error text alone.
  Result<void> write(std::span<const uint8_t> bytes);

 private:
  explicit OutputFile(intptr_t handle) : handle_(handle) {}
  void close();

  intptr_t handle_;  // a file descriptor or a HANDLE; -1 when none
};

}  // namespace korvex
