#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "picture/camera_picture.hpp"
#include "picture/placeholder.hpp"
#include "section/frame_section.hpp"
#include "section_memory.hpp"
#include "vcam/loopback_output.hpp"

namespace korvex::vcam {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint64_t kPictureSize = uint64_t{kLoopbackWidth} * kLoopbackHeight * 3 / 2;

// What happened to the fake devices.
struct DeviceLog {
  std::vector<std::string> opened;
  std::vector<std::string> formats;  // "path WxH"
  std::vector<std::vector<uint8_t>> pictures;
  Result<void> format_result;
  Result<void> write_result;
};

class FakeDevice final : public LoopbackDevice {
 public:
  FakeDevice(std::string path, DeviceLog& log) : path_(std::move(path)), log_(log) {}
  Result<void> set_nv12_format(uint32_t width, uint32_t height) override {
    log_.formats.push_back(path_ + " " + std::to_string(width) + "x" + std::to_string(height));
    return log_.format_result;
  }
  Result<void> write_picture(std::span<const uint8_t> picture) override {
    if (!log_.write_result) {
      return log_.write_result;
    }
    log_.pictures.emplace_back(picture.begin(), picture.end());
    return {};
  }

 private:
  std::string path_;
  DeviceLog& log_;
};

class FakeDevices final : public VideoDevices {
 public:
  FakeDevices(std::vector<VideoDeviceInfo> devices, DeviceLog& log)
      : devices_(std::move(devices)), log_(log) {}
  std::vector<VideoDeviceInfo> list() override { return devices_; }
  Result<std::unique_ptr<LoopbackDevice>> open(const std::string& path) override {
    log_.opened.push_back(path);
    return std::unique_ptr<LoopbackDevice>(std::make_unique<FakeDevice>(path, log_));
  }

 private:
  std::vector<VideoDeviceInfo> devices_;
  DeviceLog& log_;
};

class LoopbackOutputTest : public testing::Test {
 protected:
  picture::CameraPicture camera_picture() {
    return picture::CameraPicture(
        [this]() -> Result<section::MappedSection> {
          return section::MappedSection(memory.data(), [](uint8_t*) {});
        },
        [this] { return now; });
  }

  Result<std::unique_ptr<LoopbackOutput>> open(std::vector<VideoDeviceInfo> devices) {
    FakeDevices fakes(std::move(devices), log);
    return LoopbackOutput::open(fakes, camera_picture());
  }

  section::SectionMemory memory;
  uint64_t now = 10'000;
  DeviceLog log;
};

TEST_F(LoopbackOutputTest, WritesToTheOutputDeviceNamedKorvexOnly) {
  auto output = open({{"/dev/video0", "Integrated Camera", false},
                      {"/dev/video1", "Korvex", false},  // a capture device of that name
                      {"/dev/video2", "OBS Virtual Camera", true},
                      {"/dev/video7", "Korvex", true},
                      {"/dev/video8", "Korvex", true}});
  ASSERT_TRUE(output) << output.error();
  ASSERT_TRUE(output.value());
  EXPECT_EQ(output.value()->path(), "/dev/video7");
  EXPECT_THAT(log.opened, ElementsAre("/dev/video7"));
  EXPECT_THAT(log.formats, ElementsAre("/dev/video7 1280x720"));
}

TEST_F(LoopbackOutputTest, WithoutSuchADeviceNothingIsOpened) {
  auto output = open({{"/dev/video0", "Integrated Camera", false},
                      {"/dev/video2", "Dummy video device (0x0000)", true}});
  ASSERT_TRUE(output) << output.error();
  EXPECT_FALSE(output.value());
  EXPECT_THAT(log.opened, IsEmpty());
}

TEST_F(LoopbackOutputTest, AFormatTheDeviceRefusesIsAnErrorNamingTheDevice) {
  log.format_result = fail("VIDIOC_S_FMT: Invalid argument (os error 22)");
  auto output = open({{"/dev/video7", "Korvex", true}});
  ASSERT_FALSE(output);
  EXPECT_EQ(output.error(), "/dev/video7: VIDIOC_S_FMT: Invalid argument (os error 22)");
}

TEST_F(LoopbackOutputTest, WritesThePlaceholderThenThePhonesFrameThenTheWriteError) {
  auto output = open({{"/dev/video7", "Korvex", true}});
  ASSERT_TRUE(output) << output.error();
  LoopbackOutput& loopback = *output.value();

  // No phone yet: the camera's placeholder, whole.
  ASSERT_TRUE(loopback.write_next());
  std::vector<uint8_t> placeholder(kPictureSize);
  picture::draw_placeholder(picture::Nv12View{placeholder.data(),
                                              placeholder.data() + kLoopbackWidth * kLoopbackHeight,
                                              kLoopbackWidth, kLoopbackHeight, kLoopbackWidth});
  ASSERT_EQ(log.pictures.size(), 1u);
  EXPECT_EQ(log.pictures[0], placeholder);

  // A frame of the output's size goes out as it is.
  auto geometry = section::adopt_section(memory.data());
  ASSERT_TRUE(geometry);
  Nv12Frame frame = section::nv12(kLoopbackWidth, kLoopbackHeight, 0);
  for (uint64_t i = 0; i < frame.data.size(); ++i) {
    frame.data[i] = static_cast<uint8_t>(i * 7 + i / 1280);
  }
  section::publish_frame(memory.data(), geometry.value(), frame, now);
  ASSERT_TRUE(loopback.write_next());
  ASSERT_EQ(log.pictures.size(), 2u);
  EXPECT_EQ(log.pictures[1], frame.data);

  // A device that went away (its module unloaded) says so, with its path.
  log.write_result = fail("write: No such device (os error 19)");
  auto written = loopback.write_next();
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "/dev/video7: write: No such device (os error 19)");
}

}  // namespace
}  // namespace korvex::vcam
