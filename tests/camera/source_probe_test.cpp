// The probe's Media Foundation reading path on a real source: the receiver's
// own media source from KorvexSource.dll, showing frames from the frame
// section, read through Media Foundation's source reader.

#include <windows.h>
// windows.h must come first.
#include <mfapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "camera/camera_modes.hpp"
#include "camera/media_foundation_camera_win.hpp"
#include "section_writer.hpp"
#include "source_dll.hpp"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace korvex::camera::test {
namespace {

namespace fs = std::filesystem;
using media_source::test::ramp_frame;
using media_source::test::SectionWriter;

// The PNG's pixels equal the frame's luma plane.
void expect_luma_file(const fs::path& png, const Nv12Frame& frame) {
  int width = 0;
  int height = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load(png.string().c_str(), &width, &height, &channels, 1);
  ASSERT_NE(pixels, nullptr) << png.string() << ": " << stbi_failure_reason();
  EXPECT_EQ(width, static_cast<int>(frame.width));
  EXPECT_EQ(height, static_cast<int>(frame.height));
  if (width == static_cast<int>(frame.width) && height == static_cast<int>(frame.height)) {
    EXPECT_TRUE(
        std::equal(pixels, pixels + uint64_t{frame.width} * frame.height, frame.data.begin()))
        << png.string() << " differs from the published frame";
  }
  stbi_image_free(pixels);
}

TEST(SourceProbe, ReadsAndDumpsTheSectionsFramesThroughTheSourceReader) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  const Nv12Frame frame = ramp_frame(1920, 1080);
  writer->publish(frame);
  // Published again and again, so that the source never falls back to its
  // placeholder on a slow machine.
  std::atomic<bool> probing{true};
  std::thread keep_fresh([&] {
    while (probing) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      writer->publish(frame);
    }
  });

  Microsoft::WRL::ComPtr<IMFActivate> activate;
  ASSERT_EQ(media_source::test::create_activate(activate), S_OK);
  std::vector<CameraInfo> cameras;
  // As Windows 11 lists it, and probed as the checklist says: --probe-camera Korvex.
  cameras.push_back({"Korvex Windows Virtual Camera", "", media_foundation_activation(activate)});
  const fs::path dir = fs::temp_directory_path() / "korvex-source-probe";
  fs::remove_all(dir);

  std::string out;
  std::string err;
  const int status =
      probe_camera(std::move(cameras), {"Korvex", 10, dir.string()},
                   {[&](std::string_view t) { out += t; }, [&](std::string_view t) { err += t; }});
  probing = false;
  keep_fresh.join();
  std::cout << out << err;  // what the probe printed, for the record

  EXPECT_EQ(status, 0);
  EXPECT_EQ(err, "");
  std::string listing;
  int type = 0;
  for (const char* pixels : {"NV12", "YUY2"}) {
    for (const char* size : {"1920x1080", "1280x720", "640x360", "1280x960", "640x480"}) {
      for (int fps : {30, 15}) {
        listing += "   type " + std::to_string(type++) + ": " + pixels + " " + size + " @ " +
                   std::to_string(fps) + " fps\n";
      }
    }
  }
  listing += "-> reading 10 frames at 1920x1080 NV12\n";
  EXPECT_EQ(out.substr(0, listing.size()), listing);
  const std::string frame_1 = (dir / "frame-1.png").string();
  const std::string frame_10 = (dir / "frame-10.png").string();
  const std::regex rest(
      "   first frame after [0-9]+ ms\n"
      "   wrote " +
      std::regex_replace(frame_1, std::regex(R"([\\.])"), R"(\$&)") +
      "\n"
      "   wrote " +
      std::regex_replace(frame_10, std::regex(R"([\\.])"), R"(\$&)") +
      "\n"
      "-> 10 frames in [0-9]+\\.[0-9]{2} s = [0-9]+\\.[0-9] fps, "
      "sample times span [0-9]+\\.[0-9]{2} s\n");
  EXPECT_TRUE(std::regex_match(out.substr(std::min(listing.size(), out.size())), rest)) << out;
  expect_luma_file(frame_1, frame);
  expect_luma_file(frame_10, frame);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace korvex::camera::test
