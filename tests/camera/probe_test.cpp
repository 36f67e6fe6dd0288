// The listing and the probe on scripted cameras: which camera and type they
// choose, what they print, and how they read, report and dump.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "camera/camera_choice.hpp"
#include "camera/camera_modes.hpp"
#include "fake_camera.hpp"

namespace korvex::camera::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// std::regex, the same on both systems (gtest's own is simpler on Windows).
MATCHER_P(MatchesRegex, pattern, "matches " + std::string(pattern)) {
  return std::regex_match(std::string(arg), std::regex(pattern));
}

struct Printed {
  int status = -1;
  std::string out;
  std::string err;
};

Console capture(Printed& printed) {
  return {[&printed](std::string_view text) { printed.out += text; },
          [&printed](std::string_view text) { printed.err += text; }};
}

Printed probe(Result<std::vector<CameraInfo>> cameras, ProbeRequest request) {
  Printed printed;
  printed.status = probe_camera(std::move(cameras), request, capture(printed));
  return printed;
}

MediaType type(const Guid& subtype, uint32_t width, uint32_t height, double fps = 30) {
  return {subtype, width, height, fps};
}

// One NV12 720p type and the given reads.
Script reads(std::deque<Step> steps) {
  return script({type(kNv12, 1280, 720)}, std::move(steps));
}

std::vector<CameraInfo> one_camera(Script script, Trace& trace) {
  std::vector<CameraInfo> cameras;
  cameras.push_back(fake_camera("Cam", std::move(script), trace));
  return cameras;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    out.push_back(text.substr(start, end - start));
  }
  return out;
}

class DumpDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvex-probe-test-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    if (fs::exists(dir_)) {
      for (const auto& entry : fs::directory_iterator(dir_)) {
        names.push_back(entry.path().filename().string());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST(CameraListing, PrintsEveryCameraOrTheFailure) {
  Trace trace;
  std::vector<CameraInfo> cameras;
  cameras.push_back(fake_camera("USB Cam", {}, trace));
  cameras.push_back({"", "", nullptr});  // nothing could be read of it
  Printed printed;
  printed.status = report_cameras(std::move(cameras), capture(printed));
  EXPECT_EQ(printed.status, 0);
  EXPECT_EQ(printed.out, "2 camera(s):\n  \"USB Cam\"  link-of-USB Cam\n  \"\"  \n");
  EXPECT_EQ(printed.err, "");

  Printed none;
  none.status = report_cameras(std::vector<CameraInfo>{}, capture(none));
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "0 camera(s):\n");

  Printed failed;
  failed.status = report_cameras(fail("MFEnumDeviceSources: nope (0x80004005)"), capture(failed));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "cameras: MFEnumDeviceSources: nope (0x80004005)\n");
}

TEST(CameraChoice, ExactNameBeatsAnEarlierSubstringAndCaseIsAsciiOnly) {
  Trace trace;
  std::vector<CameraInfo> cameras;
  for (const char* name : {"USB Cam", "Cam", "Caméra Ü"}) {
    cameras.push_back(fake_camera(name, {}, trace));
  }
  EXPECT_EQ(choose_camera(cameras, "cam").value(), 1u);
  EXPECT_EQ(choose_camera(cameras, "usb").value(), 0u);
  EXPECT_EQ(choose_camera(cameras, "B C").value(), 0u);
  EXPECT_EQ(choose_camera(cameras, "").value(), 0u);
  EXPECT_EQ(choose_camera(cameras, "CAMéRA").value(), 2u);  // é is compared as it is
  EXPECT_EQ(choose_camera(cameras, "caméra ü").error(),
            "no camera named \"caméra ü\"; found: USB Cam, Cam, Caméra Ü");
}

TEST(CameraChoice, KorvexFindsTheCameraAsWindowsListsIt) {
  // Windows appends "Windows Virtual Camera" to a virtual camera's name.
  Trace trace;
  std::vector<CameraInfo> cameras;
  for (const char* name : {"Integrated Camera", "Korvex Windows Virtual Camera"}) {
    cameras.push_back(fake_camera(name, {}, trace));
  }
  EXPECT_EQ(choose_camera(cameras, "Korvex").value(), 1u);
  EXPECT_EQ(choose_camera(cameras, "korvex windows virtual camera").value(), 1u);
}

TEST(CameraChoice, NoCameraFailsTheProbeWithNothingFound) {
  const Printed printed = probe(std::vector<CameraInfo>{}, {"X", 60, {}});
  EXPECT_EQ(printed.status, 1);
  EXPECT_EQ(printed.out, "");
  EXPECT_EQ(printed.err, "probe: no camera named \"X\"; found: \n");

  const Printed unlisted = probe(fail("MFCreateAttributes returned nothing"), {"X", 60, {}});
  EXPECT_EQ(unlisted.status, 1);
  EXPECT_EQ(unlisted.err, "probe: MFCreateAttributes returned nothing\n");

  Trace trace;
  Script broken;
  broken.activation_failure = "ActivateObject: Access is denied. (0x80070005)";
  const Printed inactive = probe(one_camera(broken, trace), {"", 60, {}});
  EXPECT_EQ(inactive.status, 1);
  EXPECT_EQ(inactive.err, "probe: ActivateObject: Access is denied. (0x80070005)\n");
}

TEST(SubtypeNames, TableNamesAndOtherGuidsInFull) {
  EXPECT_EQ(subtype_name(kNv12), "NV12");
  EXPECT_EQ(subtype_name(kYuy2), "YUY2");
  EXPECT_EQ(subtype_name(kMjpg), "MJPG");
  EXPECT_EQ(subtype_name(video_subtype(22)), "RGB32");
  EXPECT_EQ(subtype_name(video_subtype(20)), "RGB24");
  EXPECT_EQ(subtype_name(kI420), "I420");
  EXPECT_EQ(subtype_name(kH264), "H264");
  // A FOURCC outside the table, and the table's FOURCC off the video base.
  EXPECT_EQ(subtype_name(video_subtype(0x59455247)), "59455247-0000-0010-8000-00AA00389B71");
  Guid off_base = kNv12;
  off_base.data4[7] = 0x0A;
  EXPECT_EQ(subtype_name(off_base), "3231564E-0000-0010-8000-00AA00389B0A");
  EXPECT_EQ(subtype_name(Guid{}), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(subtype_name({0xDEADBEEF, 0xAB, 0xC, {1, 2, 3, 4, 5, 6, 0xFE, 0xFF}}),
            "DEADBEEF-00AB-000C-0102-03040506FEFF");
}

TEST(TypeChoice, LargestNv12FirstOfEqualAndYuy2OnlyWhenConverted) {
  const std::vector<MediaType> types = {type(kYuy2, 1920, 1080),    type(kNv12, 640, 480),
                                        type(kNv12, 1280, 720, 30), type(kMjpg, 3840, 2160),
                                        type(kNv12, 720, 1280, 60), type(kNv12, 320, 240)};
  EXPECT_EQ(choose_type(types, false), 2u);
  EXPECT_EQ(choose_type(types, true), 2u);  // NV12 first, even when YUY2 is larger
  const std::vector<MediaType> no_nv12 = {type(kMjpg, 1920, 1080), type(kYuy2, 640, 480),
                                          type(kYuy2, 1280, 720), type(kYuy2, 960, 960)};
  EXPECT_EQ(choose_type(no_nv12, false), std::nullopt);
  EXPECT_EQ(choose_type(no_nv12, true), 2u);  // 960x960 has 1280x720's area: the first wins
  EXPECT_EQ(choose_type({}, true), std::nullopt);
  // Areas past 32 bits do not wrap around to small ones.
  EXPECT_EQ(choose_type({type(kNv12, 640, 480), type(kNv12, 65536, 65536)}, false), 1u);
}

TEST(TypeChoice, ListsEveryTypeThenFailsWithoutNv12) {
  Trace trace;
  const Script no_nv12 = script({type(kMjpg, 1920, 1080, 30), type(kYuy2, 640, 480, 29.97),
                                 type(video_subtype(0x59455247), 0, 0, 0)},
                                {frame_at(0)});
  const Printed printed = probe(one_camera(no_nv12, trace), {"cam", 60, {}});
  EXPECT_EQ(printed.status, 1);
  EXPECT_EQ(printed.out,
            "   type 0: MJPG 1920x1080 @ 30 fps\n"
            "   type 1: YUY2 640x480 @ 30 fps\n"
            "   type 2: 59455247-0000-0010-8000-00AA00389B71 0x0 @ 0 fps\n");
  EXPECT_EQ(printed.err, "probe: camera offers no NV12 type\n");
  EXPECT_TRUE(trace.selected.empty());
  EXPECT_EQ(trace.reads, 0);
  EXPECT_EQ(trace.shutdowns, 0);
  EXPECT_TRUE(trace.released);
}

TEST(TypeChoice, SelectsTheChosenTypeOrReportsWhyNot) {
  Trace trace;
  Script equal = script({type(kNv12, 640, 480), type(kNv12, 1280, 720), type(kNv12, 1280, 720)},
                        {frame_at(0)});
  const Printed printed = probe(one_camera(equal, trace), {"", 1, {}});
  EXPECT_EQ(printed.status, 0);
  EXPECT_THAT(trace.selected, ElementsAre(1u));
  EXPECT_THAT(printed.out, HasSubstr("-> reading 1 frames at 1280x720 NV12\n"));

  Trace converted;
  Script yuy2_only = script({type(kYuy2, 640, 480), type(kYuy2, 1280, 720)}, {frame_at(0)});
  yuy2_only.converts_yuy2 = true;
  const Printed yuy2 = probe(one_camera(yuy2_only, converted), {"", 1, {}});
  EXPECT_EQ(yuy2.status, 0);
  EXPECT_THAT(converted.selected, ElementsAre(1u));
  EXPECT_THAT(yuy2.out, HasSubstr("-> reading 1 frames at 1280x720 NV12\n"));

  Trace refused;
  equal.select_failure = "SetCurrentMediaType: The data specified is invalid. (0xC00D36B4)";
  const Printed failed = probe(one_camera(equal, refused), {"", 1, {}});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err,
            "probe: SetCurrentMediaType: The data specified is invalid. (0xC00D36B4)\n");
  EXPECT_EQ(refused.reads, 0);
  EXPECT_EQ(refused.shutdowns, 0);
}

TEST(ReadLoop, CountsSamplesOnlyAndReportsRateAndSpan) {
  Trace trace;
  // Reads without a sample (stream ticks, format changes) do not count.
  const Printed printed =
      probe(one_camera(reads({nothing(), frame_at(1'000'000), nothing(), nothing(),
                              frame_at(1'333'333), frame_at(3'000'000)}),
                       trace),
            {"cam", 3, {}});
  EXPECT_EQ(printed.status, 0);
  EXPECT_EQ(printed.err, "");
  const auto out = lines(printed.out);
  ASSERT_EQ(out.size(), 4u) << printed.out;
  EXPECT_EQ(out[0], "   type 0: NV12 1280x720 @ 30 fps");
  EXPECT_EQ(out[1], "-> reading 3 frames at 1280x720 NV12");
  EXPECT_THAT(out[2], MatchesRegex("   first frame after [0-9]+ ms"));
  EXPECT_THAT(out[3], MatchesRegex("-> 3 frames in [0-9]+\\.[0-9][0-9] s = [0-9]+\\.[0-9] fps, "
                                   "sample times span 0\\.20 s"));
  EXPECT_EQ(trace.reads, 6);
  EXPECT_EQ(trace.shutdowns, 1);
  EXPECT_EQ(trace.live_samples, 0);
  EXPECT_TRUE(trace.released);
}

TEST(ReadLoop, EndOfStreamEndsTheReadingWithWhatCame) {
  Trace trace;
  const Printed early = probe(
      one_camera(reads({frame_at(0), frame_at(10'000'000), end_of_stream(), frame_at(1)}), trace),
      {"cam", 60, {}});
  EXPECT_EQ(early.status, 0);
  EXPECT_THAT(lines(early.out).back(),
              MatchesRegex("-> 2 frames in .* fps, sample times span 1\\.00 s"));
  EXPECT_EQ(trace.reads, 3);
  EXPECT_EQ(trace.shutdowns, 1);

  // The end may come with a sample; it is released unread.
  Trace with_sample;
  Step last = frame_at(5'000'000);
  last.end_of_stream = true;
  const Printed carried = probe(one_camera(reads({frame_at(0), last}), with_sample), {"", 60, {}});
  EXPECT_THAT(lines(carried.out).back(), MatchesRegex("-> 1 frames in .* span 0\\.00 s"));
  EXPECT_EQ(with_sample.live_samples, 0);

  Trace nothing_came;
  const Printed none =
      probe(one_camera(reads({nothing(), end_of_stream()}), nothing_came), {"", 60, {}});
  EXPECT_EQ(none.status, 0);
  const auto out = lines(none.out);
  ASSERT_EQ(out.size(), 3u) << none.out;  // no first-frame line
  EXPECT_THAT(out[2],
              MatchesRegex("-> 0 frames in [0-9.]+ s = 0\\.0 fps, sample times span 0\\.00 s"));
}

TEST(ReadLoop, ErrorsEndTheProbeWithoutShuttingTheCameraDown) {
  Trace flagged;
  Step error = frame_at(0);
  error.error = true;
  error.end_of_stream = true;  // the error flag is looked at first
  const Printed printed = probe(one_camera(reads({frame_at(0), error}), flagged), {"", 60, {}});
  EXPECT_EQ(printed.status, 1);
  EXPECT_EQ(printed.err, "probe: source reader reported an error\n");
  EXPECT_THAT(printed.out, ::testing::Not(HasSubstr("frames in")));
  EXPECT_EQ(flagged.shutdowns, 0);
  EXPECT_EQ(flagged.live_samples, 0);
  EXPECT_TRUE(flagged.released);

  Trace failing;
  Step broken;
  broken.failure = "ReadSample: The request is invalid in the current state. (0xC00D36B2)";
  const Printed failed = probe(one_camera(reads({broken}), failing), {"", 60, {}});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err,
            "probe: ReadSample: The request is invalid in the current state. (0xC00D36B2)\n");
  EXPECT_EQ(failing.shutdowns, 0);
}

TEST_F(DumpDir, WritesTheFirstAndTheLastFrame) {
  Trace trace;
  const Printed printed = probe(
      one_camera(reads({frame_at(0, 10), nothing(), frame_at(1, 20), frame_at(2, 30)}), trace),
      {"", 3, dir_.string()});
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_THAT(files(), ElementsAre("frame-1.png", "frame-3.png"));
  const auto out = lines(printed.out);
  ASSERT_EQ(out.size(), 6u) << printed.out;
  EXPECT_THAT(out[2], MatchesRegex("   first frame after [0-9]+ ms"));
  EXPECT_EQ(out[3], "   wrote " + path("frame-1.png"));
  EXPECT_EQ(out[4], "   wrote " + path("frame-3.png"));
  EXPECT_EQ(fs::file_size(path("frame-1.png")) > 0, true);
}

TEST_F(DumpDir, OneFrameIsWrittenOnceAndAnEarlyEndWritesNoLast) {
  Trace once;
  const Printed single = probe(one_camera(reads({frame_at(0)}), once), {"", 1, dir_.string()});
  EXPECT_EQ(single.status, 0) << single.err;
  EXPECT_THAT(files(), ElementsAre("frame-1.png"));
  EXPECT_EQ(lines(single.out).size(), 5u) << single.out;  // one "wrote" line

  fs::remove_all(dir_);
  Trace early;
  const Printed ended = probe(one_camera(reads({frame_at(0), frame_at(1), end_of_stream()}), early),
                              {"", 5, dir_.string()});
  EXPECT_EQ(ended.status, 0) << ended.err;
  EXPECT_THAT(files(), ElementsAre("frame-1.png"));
}

TEST_F(DumpDir, AnUnwritableDirectoryFailsTheProbe) {
  fs::create_directories(dir_);
  std::ofstream(dir_ / "file") << "in the way";
  const std::string below_file = (dir_ / "file" / "dumps").string();
  Trace trace;
  const Printed printed =
      probe(one_camera(reads({frame_at(0), frame_at(1)}), trace), {"", 2, below_file});
  EXPECT_EQ(printed.status, 1);
  EXPECT_THAT(printed.err, MatchesRegex("probe: .*frame-1\\.png: .+\n"));
  EXPECT_THAT(printed.out, ::testing::Not(HasSubstr("wrote")));
  EXPECT_EQ(trace.reads, 1);
  EXPECT_EQ(trace.shutdowns, 0);
  EXPECT_EQ(trace.live_samples, 0);
}

}  // namespace
}  // namespace korvex::camera::test
