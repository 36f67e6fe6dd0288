#pragma once

// The formats a PipeWire node offers, read from its EnumFormat parameters as
// the listing shows them.

#include <spa/param/video/raw.h>
#include <spa/pod/pod.h>

#include <cstdint>
#include <optional>

#include "camera/camera_device.hpp"

namespace korvex::camera {

// One format of a node; of a choice, the preferred value.
struct NodeFormat {
  uint32_t media_subtype = 0;  // SPA_MEDIA_SUBTYPE_*
  uint32_t video_format = SPA_VIDEO_FORMAT_UNKNOWN;
  spa_rectangle size{0, 0};
  spa_fraction rate{0, 0};

  // As the listing shows it: the subtype by Media Foundation's name for the
  // same format (all zeros for formats it has none for), the rate 0 when the
  // node gives none.
  MediaType media_type() const;
};

// A video format parameter; none for anything else.
std::optional<NodeFormat> parse_format(const spa_pod* param);

}  // namespace korvex::camera
