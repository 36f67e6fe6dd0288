#pragma once

// The video capture devices DirectShow programs see: every filter in the
// video input device category, hardware and software alike.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "common/result.hpp"

namespace korvex::directshow {

struct VideoDevice {
  std::string name;  // FriendlyName; empty when it cannot be read
  // DevicePath for hardware (the same path Media Foundation lists);
  // software filters have none, so theirs is the moniker's display name.
  std::string path;
  bool has_device_path = false;
  Microsoft::WRL::ComPtr<IMoniker> moniker;
};

// In the system's order; an empty category is an empty list. COM must be
// initialised on the calling thread. Errors read "{step}: {cause}".
Result<std::vector<VideoDevice>> list_video_devices();

// The device's filter, made from its moniker.
HRESULT bind_filter(const VideoDevice& device, Microsoft::WRL::ComPtr<IBaseFilter>& filter);

}  // namespace korvex::directshow
