#include "png/png_writer.hpp"

#include <climits>
#include <vector>

#include <fmt/format.h>
#include <stb_image_write.h>

#include "platform/output_file.hpp"

namespace korvex::png {
namespace {

void append_bytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

Result<void> write_grey_png(const std::string& path, const uint8_t* pixels, uint32_t width,
                            uint32_t height, uint32_t stride) {
  // The file comes first, so a bad path is reported as such whatever the picture.
  auto file = platform::OutputFile::create(path);
  if (!file) {
    return fail(fmt::format("{}: {}", path, file.error()));
  }
  if (width == 0 || height == 0 || width > INT_MAX / 2 || height > INT_MAX / 2 || stride < width ||
      stride > INT_MAX) {
    return fail(fmt::format("PNG encoder: cannot encode a {}x{} picture with rows {} bytes apart",
                            width, height, stride));
  }
  // The encoder writes into memory, and the file gets it in one write.
  std::vector<uint8_t> encoded;
  if (stbi_write_png_to_func(append_bytes, &encoded, static_cast<int>(width),
                             static_cast<int>(height), 1, pixels, static_cast<int>(stride)) == 0) {
    return fail("PNG encoder: encoding failed");
  }
  if (auto written = file->write(encoded); !written) {
    return fail(fmt::format("{}: {}", path, written.error()));
  }
  return {};
}

}  // namespace korvex::png
