#include <gtest/gtest.h>
#include <mferror.h>

#include <string>
#include <vector>

#include "debug_monitor_win.hpp"
#include "platform/debug_trace_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::platform {
namespace {

constexpr HRESULT kNoMessage = static_cast<HRESULT>(0xA0001234);

// Two steps, counting the step names built and the steps passed.
struct Steps {
  int names_built = 0;
  int passed = 0;

  std::string name(const char* text) {
    ++names_built;
    return text;
  }

  Result<int> run(HRESULT first, HRESULT second) {
    KORVEX_FAIL_IF_FAILED(name("MFCreateSample"), first);
    ++passed;
    KORVEX_FAIL_IF_FAILED(name("SetInputType(H264 1280x720)"), second);
    ++passed;
    return 7;
  }
};

TEST(HresultSteps, AFailedStepBecomesItsNameAndCauseAndEndsTheRun) {
  Steps ok;
  Result<int> done = ok.run(S_OK, S_FALSE);  // S_FALSE succeeds too
  ASSERT_TRUE(done) << done.error();
  EXPECT_EQ(done.value(), 7);
  EXPECT_EQ(ok.passed, 2);
  EXPECT_EQ(ok.names_built, 0) << "a step's name is built only when it failed";

  Steps first;
  Result<int> failed = first.run(E_ACCESSDENIED, S_OK);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), "MFCreateSample: " + hresult_text(E_ACCESSDENIED));
  EXPECT_EQ(first.passed, 0);

  Steps second;
  failed = second.run(S_OK, kNoMessage);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), "SetInputType(H264 1280x720): 0xA0001234");
  EXPECT_EQ(second.passed, 1);
}

HRESULT answer(HRESULT step_result, int& passed) {
  KORVEX_RETURN_IF_FAILED("IMFMediaEventQueue::QueueEventParamUnk", step_result);
  ++passed;
  return S_OK;
}

TEST(HresultSteps, AFailedCallAnswersItsCodeAndGoesToTheDebugTrace) {
  test::DebugMonitor monitor;
  ASSERT_TRUE(monitor.ok()) << "no DBWIN buffer: " << GetLastError();
  int passed = 0;
  EXPECT_EQ(answer(S_OK, passed), S_OK);
  EXPECT_EQ(answer(MF_E_SHUTDOWN, passed), MF_E_SHUTDOWN);
  EXPECT_EQ(passed, 1);

  // As a debug-output viewer shows it: the module, the step, the cause.
  const std::string expected =
      "platform_tests.exe: IMFMediaEventQueue::QueueEventParamUnk: " + hresult_text(MF_E_SHUTDOWN) +
      "\n";
  std::vector<std::string> seen;
  ASSERT_TRUE(monitor.wait_for(expected, std::chrono::seconds(5), &seen))
      << "lines seen: " << testing::PrintToString(seen);
  trace("after");
  ASSERT_TRUE(monitor.wait_for("platform_tests.exe: after\n", std::chrono::seconds(5)));
  EXPECT_EQ(monitor.lines(), (std::vector<std::string>{expected, "platform_tests.exe: after\n"}))
      << "the call that succeeded traced nothing";
}

}  // namespace
}  // namespace korvex::platform
