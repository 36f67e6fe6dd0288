#include "png/frame_dump.hpp"

#include <filesystem>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "png/png_writer.hpp"

namespace korvex::png {
namespace {

std::filesystem::path utf8_path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

bool ends_with_separator(const std::string& dir) {
  if (dir.empty()) {
    return false;
  }
  const char last = dir.back();
  return last == '/' || last == static_cast<char>(std::filesystem::path::preferred_separator);
}

}  // namespace

Result<std::string> dump_frame(const std::string& dir, uint64_t n, const Nv12Frame& frame) {
  std::error_code ignored;  // a failure shows up when the file is created
  std::filesystem::create_directories(utf8_path(dir), ignored);

  std::string path = dir;
  if (!dir.empty() && !ends_with_separator(dir)) {
    path += static_cast<char>(std::filesystem::path::preferred_separator);
  }
  path += fmt::format("frame-{}.png", n);

  if (frame.data.size() < uint64_t{frame.width} * frame.height) {
    return fail(fmt::format("PNG encoder: a {}x{} picture needs {} bytes of luma, has {}",
                            frame.width, frame.height, uint64_t{frame.width} * frame.height,
                            frame.data.size()));
  }
  if (auto written =
          write_grey_png(path, frame.data.data(), frame.width, frame.height, frame.width);
      !written) {
    return Error{written.error()};
  }
  return path;
}

}  // namespace korvex::png
