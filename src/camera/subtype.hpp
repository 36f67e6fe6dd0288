#pragma once

// Video subtypes as Media Foundation identifies them: a GUID, whose first
// field holds the FOURCC (or the legacy format number) of formats built on
// the standard video base {xxxxxxxx-0000-0010-8000-00AA00389B71}.

#include <array>
#include <cstdint>
#include <string>

namespace korvex::camera {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  bool operator==(const Guid&) const = default;
};

// The subtype of a format on the standard video base.
constexpr Guid video_subtype(uint32_t first_field) {
  return {first_field, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

inline constexpr Guid kNv12 = video_subtype(0x3231564E);
inline constexpr Guid kYuy2 = video_subtype(0x32595559);
inline constexpr Guid kMjpg = video_subtype(0x47504A4D);
inline constexpr Guid kRgb32 = video_subtype(22);
inline constexpr Guid kRgb24 = video_subtype(20);
inline constexpr Guid kI420 = video_subtype(0x30323449);
inline constexpr Guid kH264 = video_subtype(0x34363248);

// "NV12", "YUY2", "MJPG", "RGB32", "RGB24", "I420" or "H264"; any other GUID
// as its five groups of upper-case hexadecimal digits, 8-4-4-4-12.
std::string subtype_name(const Guid& subtype);

}  // namespace korvex::camera
