#include "sample_picture.hpp"

#include <wrl/client.h>

namespace korvex::media_source::test {

using Microsoft::WRL::ComPtr;

uint8_t Picture::luma(uint32_t x, uint32_t y) const {
  return format == picture::PixelFormat::nv12 ? bytes[uint64_t{y} * width + x]
                                              : bytes[(uint64_t{y} * width + x) * 2];
}

std::optional<Picture> picture_of(IMFSample* sample, picture::PixelFormat format, uint32_t width,
                                  uint32_t height) {
  ComPtr<IMFMediaBuffer> buffer;
  if (sample == nullptr || FAILED(sample->ConvertToContiguousBuffer(&buffer))) {
    return std::nullopt;
  }
  BYTE* data = nullptr;
  DWORD length = 0;
  if (FAILED(buffer->Lock(&data, nullptr, &length))) {
    return std::nullopt;
  }
  Picture picture{format, width, height, {}};
  if (length == picture::packed_size(format, width, height)) {
    picture.bytes.assign(data, data + length);
  }
  buffer->Unlock();
  if (picture.bytes.empty()) {
    return std::nullopt;
  }
  return picture;
}

namespace {

Picture render(picture::CameraPicture& camera, picture::PixelFormat format, uint32_t width,
               uint32_t height) {
  Picture picture{format, width, height,
                  std::vector<uint8_t>(picture::packed_size(format, width, height))};
  const uint32_t pitch = format == picture::PixelFormat::nv12 ? width : 2 * width;
  camera.render(picture::PictureBuffer{format, width, height, picture.bytes.data(), pitch});
  return picture;
}

}  // namespace

Picture placeholder(picture::PixelFormat format, uint32_t width, uint32_t height) {
  picture::CameraPicture camera([] { return Result<section::MappedSection>(fail("no section")); },
                                [] { return uint64_t{0}; });
  return render(camera, format, width, height);
}

Picture section_picture(picture::PixelFormat format, uint32_t width, uint32_t height) {
  picture::CameraPicture camera = picture::CameraPicture::for_system();
  return render(camera, format, width, height);
}

}  // namespace korvex::media_source::test
