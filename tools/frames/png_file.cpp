#include "png_file.hpp"

// UTF-8 file names on Windows too.
#define STBIW_WINDOWS_UTF8
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace korvex::tools {

Result<void> write_grey_png(const std::string& path, const uint8_t* pixels, uint32_t width,
                            uint32_t height, uint32_t stride) {
  if (stbi_write_png(path.c_str(), static_cast<int>(width), static_cast<int>(height), 1, pixels,
                     static_cast<int>(stride)) == 0) {
    return fail("write " + path + ": could not write the PNG file");
  }
  return {};
}

}  // namespace korvex::tools
