#include <gtest/gtest.h>

#include <limits>

#include "decoder/sample_time.hpp"

namespace korvex::decoder {
namespace {

TEST(SampleTime, TenthsOfMicrosecondsUpToTheLatestTimeItCanHold) {
  EXPECT_EQ(sample_time_100ns(0), 0);
  EXPECT_EQ(sample_time_100ns(33'333), 333'330);
  constexpr uint64_t kLatest = std::numeric_limits<int64_t>::max() / 10;
  EXPECT_EQ(sample_time_100ns(kLatest), static_cast<int64_t>(kLatest * 10));
  // Beyond that, up to a pts near 2^64, the time stays there: never negative,
  // never earlier than a smaller pts's.
  for (uint64_t pts : {kLatest + 1, uint64_t{1} << 63, std::numeric_limits<uint64_t>::max() - 1,
                       std::numeric_limits<uint64_t>::max()}) {
    EXPECT_EQ(sample_time_100ns(pts), static_cast<int64_t>(kLatest * 10)) << pts;
  }
}

}  // namespace
}  // namespace korvex::decoder
