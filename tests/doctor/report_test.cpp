#include <gtest/gtest.h>

#include <string>

#include "doctor/report.hpp"

namespace korvex::doctor {
namespace {

TEST(Report, PrintsEachFindingAsItComesAndCountsWhatIsWrong) {
  std::string printed;
  Report report([&printed](std::string_view line) { printed += line; });
  report.add(ok("port", "TCP 45334 is free"));
  EXPECT_EQ(printed, "ok       port: TCP 45334 is free\n");
  EXPECT_EQ(report.summary(), "0 problems, 0 warnings\n");
  EXPECT_EQ(report.exit_status(), 0);

  report.add(warning("receiver", "not running"));
  EXPECT_EQ(report.summary(), "0 problems, 1 warning\n");
  EXPECT_EQ(report.exit_status(), 0) << "a warning alone is no failure";

  report.add(problem("camera", "no camera"));
  report.add(problem("network", "Public"));
  EXPECT_EQ(printed,
            "ok       port: TCP 45334 is free\n"
            "warning  receiver: not running\n"
            "problem  camera: no camera\n"
            "problem  network: Public\n");
  EXPECT_EQ(report.summary(), "2 problems, 1 warning\n");
  EXPECT_EQ(report.exit_status(), 1);
}

}  // namespace
}  // namespace korvex::doctor
