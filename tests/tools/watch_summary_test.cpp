#include <gtest/gtest.h>

#include <string>

#include "watch_summary.hpp"

namespace korvex::tools {
namespace {

std::string last_line(const std::string& report) {
  const size_t end = report.size() - 1;  // the report ends with a line break
  return report.substr(report.rfind('\n', end - 1) + 1, end - report.rfind('\n', end - 1) - 1);
}

TEST(WatchSummary, CountsGapsUnreadableStampsSizesAndLatency) {
  WatchSummary summary;
  // Latencies 1..100 ms; index 50 is skipped once.
  for (uint32_t i = 1; i <= 101; ++i) {
    if (i == 50) {
      continue;
    }
    const uint32_t rank = i < 50 ? i : i - 1;
    summary.add_frame(1280, 720, Stamp{i, 1'000'000}, 1'000'000 + rank * 1000);
  }
  summary.add_frame(1920, 1080, std::nullopt, 0);
  summary.add_frame(1280, 720, std::nullopt, 0);
  summary.add_torn();
  summary.add_torn();

  const std::string report = summary.report();
  EXPECT_EQ(last_line(report),
            "frames=102 torn=2 unreadable=2 gaps=1 size=1280x720,1920x1080 latency_ms_p50=50.0 "
            "latency_ms_p99=99.0 latency_ms_max=100.0 backwards=0");
  EXPECT_NE(report.find("frames seen: 102\n"), std::string::npos);
  EXPECT_NE(report.find("placeholder (no sign of life for 2000 ms): shown 0 times, 0 ms in all\n"),
            std::string::npos);
}

TEST(WatchSummary, NothingSeen) {
  WatchSummary summary;
  EXPECT_EQ(last_line(summary.report()),
            "frames=0 torn=0 unreadable=0 gaps=0 size=- latency_ms_p50=- latency_ms_p99=- "
            "latency_ms_max=- backwards=0");
}

TEST(WatchSummary, StampsGoingBackwardsAreCountedApartFromGaps) {
  WatchSummary summary;
  for (uint32_t index : {1, 2, 3, 2, 3, 5, 5}) {  // back to 2; on from 3 to 5; 5 again
    summary.add_frame(64, 64, Stamp{index, 0}, 0);
  }
  summary.add_frame(64, 64, std::nullopt, 0);  // an unreadable stamp leaves the order alone
  summary.add_frame(64, 64, Stamp{1, 0}, 0);
  const std::string report = summary.report();
  EXPECT_EQ(last_line(report),
            "frames=9 torn=0 unreadable=1 gaps=1 size=64x64 latency_ms_p50=0.0 "
            "latency_ms_p99=0.0 latency_ms_max=0.0 backwards=2");
  EXPECT_NE(report.find("stamp gaps: 1\nstamps going backwards: 2\n"), std::string::npos) << report;
}

TEST(WatchSummary, PlaceholderPeriodsFromTheActivityTick) {
  WatchSummary summary;
  summary.observe_activity(10'000, 11'000);
  summary.observe_activity(10'000, 12'000);  // exactly 2000 ms: still live
  summary.observe_activity(10'000, 12'001);  // shown from here
  summary.observe_activity(10'000, 13'000);
  summary.observe_activity(13'500, 13'501);  // a heartbeat ends it after 1500 ms
  summary.observe_activity(13'500, 16'000);  // shown again until the end
  summary.finish(16'250);
  EXPECT_NE(summary.report().find("shown 2 times, 1750 ms in all\n"), std::string::npos)
      << summary.report();
}

}  // namespace
}  // namespace korvex::tools
