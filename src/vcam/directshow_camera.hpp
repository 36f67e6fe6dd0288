#pragma once

// Windows 10 has no virtual cameras: there the camera programs see is
// KorvexFilter.dll's DirectShow capture filter, which the setup registers in
// the video input device category and which reads the frame section itself.
// The receiver creates nothing for it; it only finds out whether it is there.

#include <string_view>

namespace korvex::vcam {

// The filter's COM class.
inline constexpr std::string_view kDirectShowFilterId = "{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}";

// True when the system has no virtual cameras and the filter is registered
// as a video capture device; always false on Linux.
bool offered_to_directshow();

}  // namespace korvex::vcam
