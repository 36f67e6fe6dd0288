#include "frames/frame_dump.hpp"

#include <filesystem>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <stb_image_write.h>

#include "frames/output_file.hpp"

namespace korvex {
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

void append_bytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
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

  auto file = OutputFile::create(path);
  if (!file) {
    return fail(fmt::format("{}: {}", path, file.error()));
  }
  if (frame.width == 0 || frame.height == 0 || frame.width > INT32_MAX / 2 ||
      frame.height > INT32_MAX / 2 || frame.data.size() < uint64_t{frame.width} * frame.height) {
    return fail(fmt::format("PNG encoder: cannot encode a {}x{} picture from {} bytes", frame.width,
                            frame.height, frame.data.size()));
  }
  // The encoder writes into memory, and the file gets it in one write.
  std::vector<uint8_t> png;
  if (stbi_write_png_to_func(append_bytes, &png, static_cast<int>(frame.width),
                             static_cast<int>(frame.height), 1, frame.data.data(),
                             static_cast<int>(frame.width)) == 0) {
    return fail("PNG encoder: encoding failed");
  }
  if (auto written = file->write(png); !written) {
    return fail(fmt::format("{}: {}", path, written.error()));
  }
  return path;
}

}  // namespace korvex
