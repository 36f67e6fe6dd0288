#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "section/frame_section.hpp"
#include "section_memory.hpp"

namespace korvex::section {
namespace {

TEST(FrameSection, AllZeroSectionGetsTheDefaultHeader) {
  SectionMemory memory;
  Result<SectionGeometry> geometry = adopt_section(memory.data());
  ASSERT_TRUE(geometry.ok()) << geometry.error();
  EXPECT_EQ(geometry->slot_count, 3u);
  EXPECT_EQ(geometry->slot_size, 3110400u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(memory.data()), 4), "KVXF");
  EXPECT_EQ(memory.get<uint32_t>(4), 1u);
  EXPECT_EQ(memory.get<uint32_t>(8), 3u);
  EXPECT_EQ(memory.get<uint32_t>(12), 3110400u);
  EXPECT_EQ(memory.get<uint64_t>(16), 0u);
  EXPECT_EQ(memory.get<uint64_t>(24), 0u);
  EXPECT_EQ(kSectionSize, 9331408u);

  // Only the magic decides: whatever else is there is overwritten.
  SectionMemory stale;
  stale.set<uint32_t>(4, 7);
  stale.set<uint64_t>(16, 99);
  ASSERT_TRUE(adopt_section(stale.data()).ok());
  EXPECT_EQ(stale.get<uint32_t>(4), 1u);
  EXPECT_EQ(stale.get<uint64_t>(16), 0u);

  // Adopting it again keeps the header, counter included.
  memory.set<uint64_t>(16, 5);
  ASSERT_TRUE(adopt_section(memory.data()).ok());
  EXPECT_EQ(memory.get<uint64_t>(16), 5u);
}

TEST(FrameSection, RejectsHeadersInCheckOrderAndLeavesThemAlone) {
  struct Case {
    uint32_t magic, version, slot_count, slot_size;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0x12345678, 1, 3, 3110400, "frame section magic 0x12345678, expected 0x4658564b"},
      // The version is looked at before the (also bad) geometry.
      {kSectionMagic, 2, 9, 3110401, "frame section version 2, expected 1"},
      {kSectionMagic, 1, 0, 3110400, "frame section geometry 0 x 3110400 unsupported"},
      {kSectionMagic, 1, 4, 3110400, "frame section geometry 4 x 3110400 unsupported"},
      {kSectionMagic, 1, 3, 3110401, "frame section geometry 3 x 3110401 unsupported"},
      {kSectionMagic, 1, 3, 3110396, "frame section slot size 3110396 not 8-byte aligned"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SectionMemory memory;
    memory.set<uint32_t>(0, c.magic);
    memory.set<uint32_t>(4, c.version);
    memory.set<uint32_t>(8, c.slot_count);
    memory.set<uint32_t>(12, c.slot_size);
    const std::vector<uint8_t> before = memory.bytes();
    Result<SectionGeometry> geometry = adopt_section(memory.data());
    ASSERT_FALSE(geometry.ok());
    EXPECT_EQ(geometry.error(), c.text);
    EXPECT_TRUE(memory.bytes() == before);
  }

  SectionHeader header;
  header.magic = kSectionMagic;
  header.version = 1;
  header.slot_count = 1;
  header.slot_size = 8;
  EXPECT_TRUE(validate_header(header).ok());
  header.magic = 0;
  EXPECT_EQ(validate_header(header).error(), "frame section magic 0x0, expected 0x4658564b");
}

TEST(FrameSection, FrameNGoesToSlotNModSlotCount) {
  for (uint32_t slots = 1; slots <= 3; ++slots) {
    SCOPED_TRACE(slots);
    SectionMemory memory;
    memory.write_header(slots, 3110400);
    const SectionGeometry geometry = adopt_section(memory.data()).value();
    for (uint8_t n = 1; n <= 7; ++n) {
      publish_frame(memory.data(), geometry, nv12(16, 8, n, 1000u * n), 100u + n);
    }
    EXPECT_EQ(memory.get<uint64_t>(16), 7u);
    EXPECT_EQ(memory.get<uint64_t>(24), 107u);
    for (uint64_t slot = 0; slot < slots; ++slot) {
      // The newest frame n <= 7 with n mod slots == slot.
      uint64_t n = 7;
      while (n % slots != slot) {
        --n;
      }
      EXPECT_EQ(memory.sequence(3110400, slot), 2 * n);
      SlotFrame frame;
      ASSERT_EQ(copy_slot(memory.data(), geometry, slot, frame), SlotCopy::complete);
      EXPECT_EQ(frame.number, n);
      EXPECT_EQ(frame.timestamp_us, 1000u * n);
      EXPECT_EQ(frame.width, 16u);
      EXPECT_EQ(frame.height, 8u);
      EXPECT_EQ(frame.data, std::vector<uint8_t>(192, static_cast<uint8_t>(n)));
    }
  }
}

// A decoder's picture as libavcodec leaves it: rows padded to a pitch, and
// the chroma as separate Cb and Cr planes (or already interleaved).
struct PaddedPicture {
  std::vector<uint8_t> luma, cb, cr;
  Picture view;

  PaddedPicture(uint32_t width, uint32_t height, uint32_t pitch, bool planar) {
    const uint32_t chroma_pitch = planar ? pitch / 2 + 1 : pitch;
    luma.resize(size_t{pitch} * height);
    cb.resize(size_t{chroma_pitch} * height / 2);
    cr.resize(planar ? cb.size() : 0);
    for (size_t i = 0; i < luma.size(); ++i) {
      luma[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    for (size_t i = 0; i < cb.size(); ++i) {
      cb[i] = static_cast<uint8_t>(i * 5 + 2);
      if (planar) {
        cr[i] = static_cast<uint8_t>(i * 3 + 200);
      }
    }
    view = Picture{luma.data(),  pitch, cb.data(), planar ? cr.data() : nullptr,
                   chroma_pitch, 42,    width,     height};
  }

  // The NV12 a reader must find, worked out byte by byte.
  std::vector<uint8_t> packed() const {
    std::vector<uint8_t> out;
    for (uint32_t r = 0; r < view.height; ++r) {
      for (uint32_t x = 0; x < view.width; ++x) {
        out.push_back(luma[r * view.luma_pitch + x]);
      }
    }
    for (uint32_t r = 0; r < view.height / 2; ++r) {
      for (uint32_t x = 0; x < view.width; ++x) {
        const size_t at = r * view.chroma_pitch;
        out.push_back(!view.planar() ? cb[at + x] : x % 2 == 0 ? cb[at + x / 2] : cr[at + x / 2]);
      }
    }
    return out;
  }
};

TEST(FrameSection, PicturesWithPaddedRowsOrPlanarChromaArePackedIntoNv12) {
  // 4100 wide crosses the chroma interleaving's 2048-byte pieces; 70 and 38
  // end on pairs past the last whole step of 16. Padded rows go in one by
  // one, each starting at any byte; unpadded planes go in as one run that
  // neither starts nor ends on a 16-byte boundary.
  for (const auto& [width, height, padding, planar] : {std::tuple{6u, 4u, 10u, true},
                                                       {6u, 4u, 10u, false},
                                                       {70u, 4u, 10u, true},
                                                       {38u, 2u, 10u, true},
                                                       {4100u, 4u, 10u, true},
                                                       {70u, 6u, 0u, false},
                                                       {70u, 6u, 0u, true}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height << " padded by " << padding
                                    << (planar ? " planar" : ""));
    SectionMemory memory;
    const SectionGeometry geometry = adopt_section(memory.data()).value();
    const PaddedPicture picture(width, height, width + padding, planar);
    publish_frame(memory.data(), geometry, picture.view, 1);
    SlotFrame frame;
    ASSERT_EQ(copy_slot(memory.data(), geometry, 1, frame), SlotCopy::complete);
    EXPECT_EQ(frame.width, width);
    EXPECT_EQ(frame.timestamp_us, 42u);
    EXPECT_EQ(frame.data, picture.packed());
    EXPECT_EQ(pack_nv12(picture.view).data, picture.packed());
  }
}

TEST(FrameSection, ThreeSlotsAfterSevenFramesHoldSixSevenFive) {
  SectionMemory memory;
  const SectionGeometry geometry = adopt_section(memory.data()).value();
  publish_frame(memory.data(), geometry, nv12(4, 2, 1), 1);
  EXPECT_EQ(memory.sequence(3110400, 1), 2u);  // the first frame goes to slot 1
  for (uint8_t n = 2; n <= 7; ++n) {
    publish_frame(memory.data(), geometry, nv12(4, 2, n), n);
  }
  EXPECT_EQ(memory.sequence(3110400, 0), 12u);
  EXPECT_EQ(memory.sequence(3110400, 1), 14u);
  EXPECT_EQ(memory.sequence(3110400, 2), 10u);

  // The slot header as a media source reads it.
  const uint64_t slot1 = slot_offset(geometry, 1);
  EXPECT_EQ(slot1, 64u + 48 + 3110400);
  EXPECT_EQ(memory.get<uint32_t>(slot1 + 16), 4u);   // width
  EXPECT_EQ(memory.get<uint32_t>(slot1 + 20), 2u);   // height
  EXPECT_EQ(memory.get<uint32_t>(slot1 + 24), 1u);   // format NV12
  EXPECT_EQ(memory.get<uint32_t>(slot1 + 28), 4u);   // stride
  EXPECT_EQ(memory.get<uint32_t>(slot1 + 32), 12u);  // data_size
  EXPECT_EQ(memory.get<uint8_t>(slot1 + 48 + 11), 7u);

  SlotFrame newest;
  ASSERT_EQ(copy_newest(memory.data(), geometry, newest), SlotCopy::complete);
  EXPECT_EQ(newest.number, 7u);
}

TEST(FrameSection, NumberingContinuesFromAnExistingSection) {
  SectionMemory memory;
  memory.write_header(2, 1024, 41);
  const SectionGeometry geometry = adopt_section(memory.data()).value();
  EXPECT_EQ(geometry.slot_count, 2u);
  EXPECT_EQ(geometry.slot_size, 1024u);
  publish_frame(memory.data(), geometry, nv12(8, 8, 9), 1);
  EXPECT_EQ(memory.get<uint64_t>(16), 42u);
  EXPECT_EQ(memory.sequence(1024, 0), 84u);
  EXPECT_EQ(memory.sequence(1024, 1), 0u);
}

TEST(FrameSection, ReaderRefusesSlotsItCannotTrust) {
  SectionMemory memory;
  const SectionGeometry geometry = adopt_section(memory.data()).value();
  SlotFrame frame;
  EXPECT_EQ(copy_newest(memory.data(), geometry, frame), SlotCopy::empty);
  EXPECT_EQ(copy_slot(memory.data(), geometry, 0, frame), SlotCopy::empty);

  publish_frame(memory.data(), geometry, nv12(4, 2, 1), 1);
  const uint64_t slot1 = slot_offset(geometry, 1);
  memory.set<uint64_t>(slot1, 3);  // the writer is inside the slot
  EXPECT_EQ(copy_newest(memory.data(), geometry, frame), SlotCopy::torn);

  memory.set<uint64_t>(slot1, 2);
  memory.set<uint32_t>(slot1 + 32, 3110401);  // data_size past the slot
  EXPECT_EQ(copy_newest(memory.data(), geometry, frame), SlotCopy::malformed);
  memory.set<uint32_t>(slot1 + 32, 11);  // does not match width x height
  EXPECT_EQ(copy_newest(memory.data(), geometry, frame), SlotCopy::malformed);
}

}  // namespace
}  // namespace korvex::section
