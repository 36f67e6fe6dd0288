#include "camera/pipewire_format_linux.hpp"

#include <spa/param/format.h>
#include <spa/param/video/format.h>
#include <spa/pod/iter.h>

namespace korvex::camera {
namespace {

// Media Foundation's subtype for the same format, by name or FOURCC; all
// zeros for the rest.
Guid subtype_of(uint32_t media_subtype, uint32_t video_format) {
  if (media_subtype == SPA_MEDIA_SUBTYPE_mjpg) {
    return kMjpg;
  }
  if (media_subtype == SPA_MEDIA_SUBTYPE_h264) {
    return kH264;
  }
  if (media_subtype != SPA_MEDIA_SUBTYPE_raw) {
    return {};
  }
  switch (video_format) {
    case SPA_VIDEO_FORMAT_NV12:
      return kNv12;
    case SPA_VIDEO_FORMAT_YUY2:
      return kYuy2;
    case SPA_VIDEO_FORMAT_I420:
      return kI420;
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
      return kRgb32;
    case SPA_VIDEO_FORMAT_BGR:
      return kRgb24;
    case SPA_VIDEO_FORMAT_UYVY:
      return video_subtype(0x59565955);
    case SPA_VIDEO_FORMAT_YV12:
      return video_subtype(0x32315659);
    case SPA_VIDEO_FORMAT_NV21:
      return video_subtype(0x3132564E);
    case SPA_VIDEO_FORMAT_GRAY8:
      return video_subtype(0x30303859);
    default:
      return {};
  }
}

// The preferred value of a property: a choice's first value is its default.
const spa_pod* preferred(const spa_pod_object* object, uint32_t key) {
  const spa_pod_prop* prop = spa_pod_object_find_prop(object, nullptr, key);
  if (prop == nullptr) {
    return nullptr;
  }
  uint32_t count = 0;
  uint32_t choice = 0;
  const spa_pod* value = spa_pod_get_values(&prop->value, &count, &choice);
  return count > 0 ? value : nullptr;
}

}  // namespace

MediaType NodeFormat::media_type() const {
  MediaType type{subtype_of(media_subtype, video_format), size.width, size.height, 0};
  if (rate.denom != 0) {
    type.fps = static_cast<double>(rate.num) / rate.denom;
  }
  return type;
}

std::optional<NodeFormat> parse_format(const spa_pod* param) {
  if (param == nullptr || !spa_pod_is_object_type(param, SPA_TYPE_OBJECT_Format)) {
    return std::nullopt;
  }
  const auto* object = reinterpret_cast<const spa_pod_object*>(param);
  uint32_t media_type = 0;
  if (const spa_pod* v = preferred(object, SPA_FORMAT_mediaType);
      v == nullptr || spa_pod_get_id(v, &media_type) < 0 || media_type != SPA_MEDIA_TYPE_video) {
    return std::nullopt;
  }
  NodeFormat format;
  if (const spa_pod* v = preferred(object, SPA_FORMAT_mediaSubtype)) {
    spa_pod_get_id(v, &format.media_subtype);
  }
  if (const spa_pod* v = preferred(object, SPA_FORMAT_VIDEO_format)) {
    spa_pod_get_id(v, &format.video_format);
  }
  if (const spa_pod* v = preferred(object, SPA_FORMAT_VIDEO_size)) {
    spa_pod_get_rectangle(v, &format.size);
  }
  if (const spa_pod* v = preferred(object, SPA_FORMAT_VIDEO_framerate)) {
    spa_pod_get_fraction(v, &format.rate);
  }
  return format;
}

}  // namespace korvex::camera
