#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doctor/receiver_check.hpp"
#include "fake_system.hpp"

namespace korvex::doctor {
namespace {

using ::testing::HasSubstr;
using testing::receiver_process;
using testing::streaming_section;
using Listeners = std::vector<platform::ListeningProcess>;

TEST(ReceiverCheck, WithoutAPhoneRunningIsTheReceiverOnThePort) {
  const Finding absent = check_receiver(Listeners{{77, "python3"}}, SectionState{}, "start it");
  EXPECT_EQ(absent.verdict, Verdict::warning);
  EXPECT_EQ(absent.text, "the receiver is not running: start it");
  EXPECT_FALSE(receiver_runs(fail("no table")));
  EXPECT_TRUE(receiver_runs(Listeners{{77, "python3"}, receiver_process()}));
}

TEST(ReceiverCheck, APhoneStreamsWhileTheSectionIsFresh) {
  const Finding streaming =
      check_receiver(Listeners{receiver_process()}, streaming_section(300), "");
  EXPECT_EQ(streaming.verdict, Verdict::ok);
  EXPECT_EQ(streaming.text, "the receiver runs and a phone is streaming (300 pictures so far)");

  SectionState stale = streaming_section();
  stale.now_tick += kStreamingWithinMs;
  EXPECT_THAT(check_receiver(Listeners{receiver_process()}, stale, "").text,
              HasSubstr("no phone is streaming: open the Korvex app"));
  SectionState never = streaming_section(0);
  never.header.value().activity_tick = 0;
  EXPECT_EQ(check_receiver(Listeners{receiver_process()}, never, "").verdict, Verdict::warning);
}

TEST(ReceiverCheck, AFreshSectionIsAStreamingReceiverWhereTheSystemNamesNoHolder) {
  EXPECT_EQ(check_receiver(Listeners{{}}, streaming_section(), "").verdict, Verdict::ok);
  SectionState stale = streaming_section();
  stale.now_tick += kStreamingWithinMs;
  EXPECT_EQ(check_receiver(Listeners{{}}, stale, "").text,
            "no phone is streaming: open the Korvex app on the iPhone and pick this PC");
  EXPECT_EQ(check_receiver(Listeners{}, stale, "start it").text,
            "the receiver is not running: start it")
      << "a section outlives its receiver";
}

TEST(ReceiverCheck, AMissingOrForeignSectionIsNamed) {
  SectionState missing;
  missing.header = fail("OpenFileMapping: The system cannot find the file specified. (os error 2)");
  EXPECT_THAT(check_receiver(Listeners{receiver_process()}, missing, "").text,
              HasSubstr("is not there (OpenFileMapping"));
  SectionState foreign = streaming_section();
  foreign.header.value().version = 9;
  EXPECT_EQ(check_receiver(Listeners{receiver_process()}, foreign, "").verdict, Verdict::problem);
}

}  // namespace
}  // namespace korvex::doctor
