#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "section/section_hold.hpp"
#include "section_memory.hpp"

namespace korvex::section {
namespace {

// The opener a camera would have, over plain memory: it counts its opens and
// says when the mapping it handed out was let go.
struct FakeSystem {
  SectionMemory memory;
  bool exists = true;
  int opens = 0;
  int unmapped = 0;

  SectionHold::Opener opener() {
    return [this]() -> Result<MappedSection> {
      ++opens;
      if (!exists) {
        return fail("OpenFileMappingW: The system cannot find the file specified. (os error 2)");
      }
      return MappedSection(memory.data(), [this](uint8_t*) { ++unmapped; });
    };
  }
};

TEST(SectionHold, OpensWhenCreatedAndHandsOutThatOneMapping) {
  FakeSystem system;
  SectionHold hold(system.opener());
  EXPECT_EQ(system.opens, 1) << "opened before any reader asked";
  Result<MappedSection> first = hold.view();
  Result<MappedSection> second = hold.view();
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first->get(), system.memory.data());
  EXPECT_EQ(second->get(), system.memory.data());
  EXPECT_EQ(system.opens, 1) << "a held mapping is not opened again";
}

TEST(SectionHold, AMissingSectionIsTriedAgainWhenAReaderAsks) {
  FakeSystem system;
  system.exists = false;
  SectionHold hold(system.opener());
  Result<MappedSection> missing = hold.view();
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().find("OpenFileMappingW"), std::string::npos);
  EXPECT_EQ(system.opens, 2);
  system.exists = true;
  ASSERT_TRUE(hold.view());
  ASSERT_TRUE(hold.view());
  EXPECT_EQ(system.opens, 3);
}

TEST(SectionHold, TheMappingGoesWithTheHoldAndItsLastView) {
  FakeSystem system;
  auto hold = std::make_unique<SectionHold>(system.opener());
  std::optional<MappedSection> reader;
  {
    Result<MappedSection> view = hold->view();
    ASSERT_TRUE(view);
    reader = std::move(view.value());
  }
  EXPECT_EQ(system.unmapped, 0);
  hold.reset();  // the source shut down while a reader still draws
  EXPECT_EQ(system.unmapped, 0) << "unmapped under a reader";
  EXPECT_EQ(reader->get(), system.memory.data());
  reader.reset();
  EXPECT_EQ(system.unmapped, 1);
}

}  // namespace
}  // namespace korvex::section
