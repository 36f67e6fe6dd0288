#include "decoder/sample_time.hpp"

#include <algorithm>
#include <limits>

namespace korvex::decoder {

int64_t sample_time_100ns(uint64_t pts_us) {
  constexpr uint64_t kLatest = std::numeric_limits<int64_t>::max() / 10;
  return static_cast<int64_t>(std::min(pts_us, kLatest) * 10);
}

}  // namespace korvex::decoder
