#include "camera/camera_choice.hpp"

#include <fmt/format.h>

#include <string>

namespace korvex::camera {
namespace {

// Letters outside ASCII stay as they are: a name is matched byte for byte.
std::string ascii_lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lowered;
}

std::optional<size_t> largest_of(const std::vector<MediaType>& types, const Guid& subtype) {
  std::optional<size_t> chosen;
  uint64_t chosen_area = 0;
  for (size_t i = 0; i < types.size(); ++i) {
    // 64 bits, so that no absurd size wraps around to a small area.
    const uint64_t area = uint64_t{types[i].width} * types[i].height;
    if (types[i].subtype == subtype && (!chosen || area > chosen_area)) {
      chosen = i;
      chosen_area = area;
    }
  }
  return chosen;
}

}  // namespace

Result<size_t> choose_camera(const std::vector<CameraInfo>& cameras, std::string_view name) {
  const std::string wanted = ascii_lower(name);
  for (size_t i = 0; i < cameras.size(); ++i) {
    if (ascii_lower(cameras[i].name) == wanted) {
      return i;
    }
  }
  for (size_t i = 0; i < cameras.size(); ++i) {
    if (ascii_lower(cameras[i].name).find(wanted) != std::string::npos) {
      return i;
    }
  }
  std::string found;
  for (size_t i = 0; i < cameras.size(); ++i) {
    found += (i == 0 ? "" : ", ") + cameras[i].name;
  }
  return fail(fmt::format("no camera named \"{}\"; found: {}", name, found));
}

std::optional<size_t> choose_type(const std::vector<MediaType>& types, bool yuy2_too) {
  if (auto nv12 = largest_of(types, kNv12)) {
    return nv12;
  }
  return yuy2_too ? largest_of(types, kYuy2) : std::nullopt;
}

}  // namespace korvex::camera
