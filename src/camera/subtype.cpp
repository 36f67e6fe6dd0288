#include "camera/subtype.hpp"

#include <fmt/format.h>

namespace korvex::camera {
namespace {

struct Named {
  Guid subtype;
  const char* name;
};

constexpr Named kNames[] = {{kNv12, "NV12"},   {kYuy2, "YUY2"}, {kMjpg, "MJPG"}, {kRgb32, "RGB32"},
                            {kRgb24, "RGB24"}, {kI420, "I420"}, {kH264, "H264"}};

}  // namespace

std::string subtype_name(const Guid& subtype) {
  for (const Named& named : kNames) {
    if (named.subtype == subtype) {
      return named.name;
    }
  }
  const auto& d = subtype.data4;
  return fmt::format("{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                     subtype.data1, subtype.data2, subtype.data3, d[0], d[1], d[2], d[3], d[4],
                     d[5], d[6], d[7]);
}

}  // namespace korvex::camera
