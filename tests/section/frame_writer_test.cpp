#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "section/frame_writer.hpp"
#include "section_memory.hpp"

namespace korvex::section {

// Runs writers on a SectionMemory, with the "shm" thread's passes made by hand.
class FrameWriterTest : public testing::Test {
 protected:
  std::shared_ptr<FrameWriter> make_writer() {
    auto opener = [this](bool* creation_denied) -> Result<MappedSection> {
      ++open_attempts;
      if (!openable) {
        *creation_denied = denied;
        return fail("CreateFileMappingW: Access is denied. (os error 5)");
      }
      return MappedSection(memory.data(), [](uint8_t*) {});
    };
    return std::shared_ptr<FrameWriter>(new FrameWriter(
        opener, [this] { return now; },
        [this](std::string_view line) { warnings.emplace_back(line); }));
  }
  static void pass(FrameWriter& writer) { writer.tend_section(); }

  SectionMemory memory;
  bool openable = true;
  bool denied = false;
  std::vector<std::string> warnings;
  int open_attempts = 0;
  uint64_t now = 1000;
};

namespace {

TEST_F(FrameWriterTest, RefusesFramesUntilMapped) {
  auto writer = make_writer();
  openable = false;
  pass(*writer);
  EXPECT_FALSE(writer->mapped());
  Result<void> result = writer->write_frame(nv12(4, 2, 1));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "frame section not mapped");
  EXPECT_EQ(writer->written(), 0u);
  EXPECT_EQ(memory.get<uint32_t>(0), 0u);

  openable = true;
  pass(*writer);
  EXPECT_TRUE(writer->mapped());
  EXPECT_EQ(memory.get<uint32_t>(0), kSectionMagic);
  EXPECT_TRUE(writer->write_frame(nv12(4, 2, 1)).ok());
  EXPECT_EQ(writer->written(), 1u);
  EXPECT_EQ(memory.get<uint64_t>(16), 1u);

  pass(*writer);  // mapped for good: no further attempts
  EXPECT_EQ(open_attempts, 2);
}

TEST_F(FrameWriterTest, SaysOnceThatTheSectionMayNotBeCreated) {
  auto writer = make_writer();
  openable = false;
  pass(*writer);  // an ordinary failure: nothing said
  EXPECT_TRUE(warnings.empty());
  denied = true;
  pass(*writer);
  pass(*writer);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("not allowed to create"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("Access is denied"), std::string::npos) << warnings[0];
  openable = true;  // the camera created it in the meantime
  pass(*writer);
  EXPECT_TRUE(writer->mapped());
  EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(FrameWriterTest, RefusedFramesLeaveTheSectionUntouched) {
  auto writer = make_writer();
  pass(*writer);
  ASSERT_TRUE(writer->write_frame(nv12(1920, 1080, 5, 77)).ok());  // fills a slot exactly
  const std::vector<uint8_t> before = memory.bytes();
  now = 2000;

  Result<void> too_big = writer->write_frame(nv12(1920, 1088, 6));
  ASSERT_FALSE(too_big.ok());
  EXPECT_EQ(too_big.error(), "frame 3133440 bytes exceeds slot 3110400");

  Nv12Frame short_frame = nv12(640, 480, 7);
  short_frame.data.resize(short_frame.data.size() - 100);
  Result<void> unpacked = writer->write_frame(short_frame);
  ASSERT_FALSE(unpacked.ok());
  EXPECT_EQ(unpacked.error(), "frame is not tightly packed NV12");

  EXPECT_TRUE(memory.bytes() == before);
  EXPECT_EQ(writer->written(), 1u);
}

TEST_F(FrameWriterTest, SaysOncePerSizeThatPicturesDoNotFitForTheFirstFourSizes) {
  auto writer = make_writer();
  openable = false;
  pass(*writer);
  EXPECT_FALSE(writer->write_frame(nv12(3840, 2160, 1)).ok());  // not mapped: nothing said
  EXPECT_TRUE(warnings.empty());

  openable = true;
  pass(*writer);
  for (int i = 0; i < 3; ++i) {
    Result<void> refused = writer->write_frame(nv12(3840, 2160, 1));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "frame 12441600 bytes exceeds slot 3110400");
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "frame section: a 3840x2160 picture (12441600 bytes) does not fit a slot (3110400 "
            "bytes, at most 1920x1080 at 16:9); the camera gets no picture of this size");
  EXPECT_TRUE(writer->write_frame(nv12(1920, 1080, 2)).ok());
  EXPECT_FALSE(writer->write_frame(nv12(1920, 1088, 3)).ok());
  EXPECT_FALSE(writer->write_frame(nv12(3840, 2160, 4)).ok());
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[1].find("a 1920x1088 picture (3133440 bytes)"), std::string::npos)
      << warnings[1];

  for (uint32_t width = 2000; width < 2100; width += 2) {
    EXPECT_FALSE(writer->write_frame(nv12(width, 1080, 5)).ok());
  }
  EXPECT_EQ(warnings.size(), 4u);  // bounded, whatever the phone sends
  EXPECT_EQ(writer->written(), 1u);
}

TEST_F(FrameWriterTest, UsesTheGeometryOfAnExistingHeader) {
  memory.write_header(2, 1024, 7);
  auto writer = make_writer();
  pass(*writer);
  ASSERT_TRUE(writer->mapped());
  for (uint8_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(writer->write_frame(nv12(16, 16, i)).ok());
  }
  // Frames 8, 9, 10 alternate between slots 0 and 1.
  EXPECT_EQ(memory.sequence(1024, 0), 20u);
  EXPECT_EQ(memory.sequence(1024, 1), 18u);
  EXPECT_EQ(memory.get<uint64_t>(16), 10u);
  EXPECT_EQ(writer->written(), 3u);
  EXPECT_EQ(writer->write_frame(nv12(32, 32, 1)).error(), "frame 1536 bytes exceeds slot 1024");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("(1024 bytes, at most 32x18 at 16:9)"), std::string::npos)
      << warnings[0];
}

TEST_F(FrameWriterTest, NeverMapsASectionWithAForeignHeader) {
  memory.set<uint32_t>(0, 0x46464646);
  const std::vector<uint8_t> before = memory.bytes();
  auto writer = make_writer();
  for (int i = 0; i < 3; ++i) {
    pass(*writer);
  }
  EXPECT_EQ(open_attempts, 3);
  EXPECT_FALSE(writer->mapped());
  EXPECT_TRUE(memory.bytes() == before);
}

TEST_F(FrameWriterTest, HeartbeatOnlyWhilePhoneActive) {
  auto writer = make_writer();
  pass(*writer);
  now = 1500;
  pass(*writer);
  EXPECT_EQ(memory.get<uint64_t>(24), 0u);

  writer->set_phone_active(true);
  pass(*writer);
  EXPECT_EQ(memory.get<uint64_t>(24), 1500u);
  now = 2000;
  pass(*writer);
  EXPECT_EQ(memory.get<uint64_t>(24), 2000u);

  writer->set_phone_active(false);
  now = 2500;
  pass(*writer);
  EXPECT_EQ(memory.get<uint64_t>(24), 2000u);
  // A written frame refreshes the tick whatever the flag says.
  ASSERT_TRUE(writer->write_frame(nv12(2, 2, 0)).ok());
  EXPECT_EQ(memory.get<uint64_t>(24), 2500u);
}

}  // namespace
}  // namespace korvex::section
