// The V4L2 cameras against a device in memory: which nodes are cameras, what
// the format listing shows, how the stream is set up, read, converted and
// handed back, and what a failing device makes of the probe.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "camera/camera_modes.hpp"
#include "camera/v4l2_camera_linux.hpp"
#include "fake_v4l2.hpp"

namespace korvex::camera::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Printed {
  int status = -1;
  std::string out;
  std::string err;
};

Printed probe(std::vector<CameraInfo> cameras, ProbeRequest request) {
  Printed printed;
  printed.status = probe_camera(std::move(cameras), request,
                                {[&](std::string_view t) { printed.out += t; },
                                 [&](std::string_view t) { printed.err += t; }});
  return printed;
}

std::shared_ptr<FakeV4l2State> webcam() {
  auto state = std::make_shared<FakeV4l2State>();
  state->card = "Integrated Webcam";
  state->formats = {
      {V4L2_PIX_FMT_MJPEG, {{1920, 1080}}, false, {{1, 30}}, false},
      {V4L2_PIX_FMT_YUYV, {{640, 480}, {4, 2}}, false, {{1, 30}, {1, 15}}, false},
  };
  return state;
}

// A 4x2 YUYV picture, rows `padding` bytes longer than they need to be:
// luma 10..13 over 20..23, chroma as in the conversion test.
Delivery yuyv_frame(long seconds, long micros, uint32_t flags = 0, size_t padding = 0) {
  Delivery d;
  const std::vector<uint8_t> first = {10, 100, 11, 200, 12, 50, 13, 60};
  const std::vector<uint8_t> second = {20, 101, 21, 202, 22, 54, 23, 61};
  d.bytes.assign(first.begin(), first.end());
  d.bytes.insert(d.bytes.end(), padding, 0xEE);
  d.bytes.insert(d.bytes.end(), second.begin(), second.end());
  d.timestamp = {seconds, micros};
  d.flags = flags;
  return d;
}

std::unique_ptr<Reader> reader_of(std::shared_ptr<FakeV4l2State> state) {
  return v4l2_reader(std::make_unique<FakeV4l2>(std::move(state)));
}

std::vector<std::string> type_lines(Reader& reader) {
  std::vector<std::string> lines;
  for (uint32_t i = 0; auto type = reader.native_type(i); ++i) {
    lines.push_back(subtype_name(type->subtype) + " " + std::to_string(type->width) + "x" +
                    std::to_string(type->height) + " " + std::to_string(type->fps));
  }
  return lines;
}

TEST(V4l2Listing, CaptureNodesNamedByCardInPathOrder) {
  auto metadata = std::make_shared<FakeV4l2State>();
  metadata->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_DEVICE_CAPS;
  metadata->device_caps = V4L2_CAP_META_CAPTURE;  // the node is not the capture one
  auto node_caps = std::make_shared<FakeV4l2State>();
  node_caps->capabilities = V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
  node_caps->device_caps = V4L2_CAP_VIDEO_CAPTURE;
  node_caps->card = "Second Cam";
  auto full_card = std::make_shared<FakeV4l2State>();
  full_card->card = std::string(32, 'C');  // no terminating zero
  auto output = std::make_shared<FakeV4l2State>();
  output->capabilities = V4L2_CAP_VIDEO_OUTPUT;
  const V4l2Opener open = fake_opener({{"/dev/video0", webcam()},
                                       {"/dev/video1", metadata},
                                       {"/dev/video2", node_caps},
                                       {"/dev/video4", full_card},
                                       {"/dev/video5", output}});
  std::vector<CameraInfo> cameras = list_v4l2_cameras(
      {"/dev/video0", "/dev/video1", "/dev/video2", "/dev/video3", "/dev/video4", "/dev/video5"},
      open);
  std::string text;
  report_cameras(std::move(cameras), {[&](std::string_view t) { text += t; }, nullptr});
  EXPECT_EQ(text,
            "3 camera(s):\n"
            "  \"Integrated Webcam\"  /dev/video0\n"
            "  \"Second Cam\"  /dev/video2\n"
            "  \"" +
                std::string(32, 'C') + "\"  /dev/video4\n");
}

TEST(V4l2Listing, VideoNodesByNumber) {
  const fs::path dir = fs::temp_directory_path() / "korvex-v4l2-nodes";
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* name : {"video10", "video2", "video0", "videoX", "vbi0", "video", "media0"}) {
    std::ofstream(dir / name) << "";
  }
  EXPECT_THAT(video_device_paths(dir.string()),
              ElementsAre((dir / "video0").string(), (dir / "video2").string(),
                          (dir / "video10").string()));
  fs::remove_all(dir);
  EXPECT_TRUE(video_device_paths(dir.string()).empty());
}

TEST(V4l2Types, EveryFormatSizeAndIntervalInTheDevicesOrder) {
  auto state = std::make_shared<FakeV4l2State>();
  state->formats = {
      {V4L2_PIX_FMT_YUYV, {{640, 480}, {1280, 720}}, false, {{1, 30}, {1001, 15000}}, false},
      {V4L2_PIX_FMT_MJPEG, {{160, 120}, {1920, 1080}}, true, {{1, 60}, {1, 5}}, true},
      {V4L2_PIX_FMT_NV12, {{320, 240}}, false, {}, false},
      {V4L2_PIX_FMT_GREY, {}, false, {}, false},
      {V4L2_PIX_FMT_RGB24, {{8, 8}}, false, {{0, 1}}, false},
      {V4L2_PIX_FMT_RGB32, {{8, 8}}, false, {{1, 1}}, false},
      {V4L2_PIX_FMT_YUV420, {{8, 8}}, false, {{1, 1}}, false},
      {V4L2_PIX_FMT_H264, {{8, 8}}, false, {{1, 1}}, false},
  };
  auto reader = reader_of(state);
  EXPECT_THAT(
      type_lines(*reader),
      ElementsAre("YUY2 640x480 30.000000", "YUY2 640x480 14.985015", "YUY2 1280x720 30.000000",
                  "YUY2 1280x720 14.985015", "MJPG 160x120 60.000000", "MJPG 160x120 5.000000",
                  "MJPG 1920x1080 60.000000", "MJPG 1920x1080 5.000000", "NV12 320x240 0.000000",
                  "59455247-0000-0010-8000-00AA00389B71 0x0 0.000000", "RGB24 8x8 0.000000",
                  "RGB32 8x8 1.000000", "I420 8x8 1.000000", "H264 8x8 1.000000"));
  EXPECT_TRUE(reader->converts_yuy2());
}

TEST(V4l2Stream, ReadsConvertsAndHandsEveryBufferBack) {
  auto state = webcam();
  state->padding = 2;
  state->deliveries = {yuyv_frame(1, 500000, 0, 2), yuyv_frame(2, 0, V4L2_BUF_FLAG_ERROR, 2),
                       yuyv_frame(2, 250000, 0, 2)};
  {
    auto reader = reader_of(state);
    ASSERT_TRUE(reader->select(4));  // YUYV 4x2 @ 15
    EXPECT_EQ(state->format.width, 4u);
    EXPECT_EQ(state->format.pixelformat, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(state->interval.denominator, 15u);
    EXPECT_FALSE(state->streaming);  // streaming starts with the first read

    Result<ReadResult> first = reader->read();
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ(state->maps, 3);
    ASSERT_TRUE(first->sample);
    EXPECT_EQ(first->time, 15'000'000);
    Result<Nv12Frame> frame = first->sample->nv12(4, 2, 0);
    ASSERT_TRUE(frame) << frame.error();
    EXPECT_THAT(frame->data, ElementsAre(10, 11, 12, 13, 20, 21, 22, 23, 101, 201, 52, 61));
    EXPECT_EQ(frame->timestamp_us, 1'500'000u);
    EXPECT_EQ(state->queued.size(), 2u);  // held while the sample lives
    first.value().sample.reset();
    EXPECT_EQ(state->queued.size(), 3u);

    Result<ReadResult> damaged = reader->read();  // no sample, buffer back at once
    ASSERT_TRUE(damaged);
    EXPECT_FALSE(damaged->sample);
    EXPECT_FALSE(damaged->end_of_stream);
    EXPECT_EQ(state->queued.size(), 3u);

    EXPECT_TRUE(reader->read()->sample);
    Result<ReadResult> end = reader->read();  // EPIPE after the last buffer
    ASSERT_TRUE(end) << end.error();
    EXPECT_TRUE(end->end_of_stream);
  }
  EXPECT_TRUE(state->stopped);
  EXPECT_EQ(state->unmaps, 3);
  EXPECT_TRUE(state->closed);
}

TEST(V4l2Stream, ProbeTakesTheLargestYuyvWithoutNv12AndDumps) {
  const fs::path dir = fs::temp_directory_path() / "korvex-v4l2-probe";
  fs::remove_all(dir);
  auto state = webcam();
  state->formats[1].sizes = {{4, 2}, {2, 2}};
  state->deliveries = {yuyv_frame(0, 0), yuyv_frame(0, 100000), yuyv_frame(0, 200000)};
  std::vector<CameraInfo> cameras =
      list_v4l2_cameras({"/dev/video0"}, fake_opener({{"/dev/video0", state}}));
  const Printed printed = probe(std::move(cameras), {"webcam", 3, dir.string()});
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_THAT(printed.out, HasSubstr("   type 0: MJPG 1920x1080 @ 30 fps\n"
                                     "   type 1: YUY2 4x2 @ 30 fps\n"
                                     "   type 2: YUY2 4x2 @ 15 fps\n"
                                     "   type 3: YUY2 2x2 @ 30 fps\n"
                                     "   type 4: YUY2 2x2 @ 15 fps\n"
                                     "-> reading 3 frames at 4x2 NV12\n"));
  EXPECT_THAT(printed.out, HasSubstr("sample times span 0.20 s\n"));
  EXPECT_TRUE(fs::exists(dir / "frame-1.png"));
  EXPECT_TRUE(fs::exists(dir / "frame-3.png"));
  EXPECT_EQ(state->queued.size(), 3u);
  EXPECT_TRUE(state->closed);
  fs::remove_all(dir);
}

TEST(V4l2Stream, DeviceFailuresEndTheProbeWithTheirStep) {
  const auto probe_with = [](const std::function<void(FakeV4l2State&)>& setup) {
    auto state = webcam();
    state->deliveries = {yuyv_frame(0, 0), yuyv_frame(0, 1)};
    setup(*state);
    return probe(list_v4l2_cameras({"/dev/video0"}, fake_opener({{"/dev/video0", state}})),
                 {"", 60, {}});
  };
  EXPECT_EQ(probe_with([](FakeV4l2State& s) { s.ignore_format = true; }).err,
            "probe: VIDIOC_S_FMT: the device offers MJPG 1920x1080 instead\n");
  EXPECT_EQ(probe_with([](FakeV4l2State& s) { s.deliveries.front().error = EIO; }).err,
            "probe: VIDIOC_DQBUF: Input/output error (os error 5)\n");
  EXPECT_EQ(probe_with([](FakeV4l2State& s) { s.deliveries.front().index_offset = 7; }).err,
            "probe: VIDIOC_DQBUF: buffer 7 of 3\n");
  // The three buffers go in, then handing the first sample back fails.
  EXPECT_EQ(probe_with([](FakeV4l2State& s) { s.queue_error_after = 3; }).err,
            "probe: VIDIOC_QBUF: No such device (os error 19)\n");
  // A picture shorter than its format is no sample to dump, and fails the probe.
  const fs::path dir = fs::temp_directory_path() / "korvex-v4l2-short";
  auto state = webcam();
  state->formats[1].sizes = {{4, 2}};
  state->deliveries = {yuyv_frame(0, 0)};
  state->deliveries.front().bytes.resize(10);
  const Printed cut =
      probe(list_v4l2_cameras({"/dev/video0"}, fake_opener({{"/dev/video0", state}})),
            {"", 1, dir.string()});
  EXPECT_EQ(cut.err, "probe: YUYV picture of 10 bytes holds no 2 rows of 8 bytes, 8 apart\n");
  fs::remove_all(dir);
  // An end before any buffer came is an empty report, not a failure.
  const Printed ended = probe_with([](FakeV4l2State& s) { s.deliveries.clear(); });
  EXPECT_EQ(ended.status, 0);
  EXPECT_THAT(ended.out, HasSubstr("-> 0 frames in "));
}

}  // namespace
}  // namespace korvex::camera::test
