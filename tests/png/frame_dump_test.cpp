#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "png/frame_dump.hpp"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace korvex::png {
namespace {

namespace fs = std::filesystem;

class FrameDump : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("korvex-dump-test-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
};

Nv12Frame picture(uint32_t width, uint32_t height, uint8_t seed) {
  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.data.resize(size_t{width} * height * 3 / 2);
  for (size_t i = 0; i < frame.data.size(); ++i) {
    frame.data[i] = static_cast<uint8_t>(i * 7 + seed + i / width);
  }
  return frame;
}

// The PNG's pixels, read back as greyscale; empty when it is not one.
std::vector<uint8_t> read_grey_png(const std::string& path, int& width, int& height) {
  int channels = 0;
  stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 0);
  if (pixels == nullptr || channels != 1) {
    stbi_image_free(pixels);
    return {};
  }
  std::vector<uint8_t> out(pixels, pixels + size_t(width) * height);
  stbi_image_free(pixels);
  return out;
}

TEST_F(FrameDump, WritesTheLumaAsAGreyscalePngCreatingDirectories) {
  const fs::path dir = root_ / "a" / "b";
  const Nv12Frame frame = picture(1280, 720, 3);
  auto path = dump_frame(dir.string(), 30, frame);
  ASSERT_TRUE(path.ok()) << path.error();
  EXPECT_EQ(fs::path(path.value()), dir / "frame-30.png");

  int width = 0, height = 0;
  const std::vector<uint8_t> pixels = read_grey_png(path.value(), width, height);
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 720);
  ASSERT_EQ(pixels.size(), 1280u * 720u);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), frame.data.begin()));
}

TEST_F(FrameDump, ReplacesAnEarlierDumpAndKeepsATrailingSeparator) {
  const std::string dir = root_.string() + "/";
  ASSERT_TRUE(dump_frame(dir, 1, picture(64, 32, 1)).ok());
  const Nv12Frame second = picture(32, 16, 9);
  auto path = dump_frame(dir, 1, second);
  ASSERT_TRUE(path.ok()) << path.error();
  EXPECT_EQ(path.value(), dir + "frame-1.png");

  int width = 0, height = 0;
  const std::vector<uint8_t> pixels = read_grey_png(path.value(), width, height);
  EXPECT_EQ(width, 32);
  EXPECT_EQ(height, 16);
  ASSERT_EQ(pixels.size(), 32u * 16u);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), second.data.begin()));
}

TEST_F(FrameDump, APathBelowAFileFailsWithThePathAndTheSystemError) {
  fs::create_directories(root_);
  const fs::path file = root_ / "plain-file";
  std::ofstream(file) << "not a directory";
  const std::string dir = (file / "sub").string();
  auto path = dump_frame(dir, 60, picture(16, 16, 0));
  ASSERT_FALSE(path.ok());
  const std::string expected_path =
      dir + static_cast<char>(fs::path::preferred_separator) + "frame-60.png";
  EXPECT_EQ(path.error().rfind(expected_path + ": ", 0), 0u) << path.error();
  EXPECT_NE(path.error().find(" (os error "), std::string::npos) << path.error();
}

}  // namespace
}  // namespace korvex::png
