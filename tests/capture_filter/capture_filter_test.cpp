// The DirectShow camera in graphs like those capture programs build: what it
// offers, how a program chooses (SetFormat before connecting, and while
// connected through ReconnectEx), and what its samples carry: the picture
// module's bytes for the section's frame, stamps on the graph's clock, sync
// points and exact lengths, through any number of Run/Stop cycles.

#include <gtest/gtest.h>

#include <thread>

#include "capture_filter/capture_formats.hpp"
#include "directshow/media_type_win.hpp"
#include "filter_graph.hpp"
#include "picture/camera_picture.hpp"
#include "section_writer.hpp"

namespace korvex::capture_filter::test {
namespace {

using directshow::MediaType;
using media_source::test::ramp_frame;
using media_source::test::SectionWriter;

const VIDEOINFOHEADER& video_info(const AM_MEDIA_TYPE& type) {
  return *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

// Caps number `index`: its media type and the caps block.
MediaType caps_type(IAMStreamConfig& config, int index, VIDEO_STREAM_CONFIG_CAPS* caps = nullptr) {
  VIDEO_STREAM_CONFIG_CAPS ignored{};
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(config.GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(caps ? caps : &ignored)),
            S_OK);
  MediaType owned;
  if (type != nullptr) {
    owned = MediaType::adopt(*type);
    CoTaskMemFree(type);
  }
  return owned;
}

// What the picture module draws for the section as it is now.
std::vector<uint8_t> expected_picture(const CaptureFormat& format) {
  std::vector<uint8_t> bytes(image_size(format));
  auto camera = picture::CameraPicture::for_system();
  const uint32_t pitch =
      format.pixels == picture::PixelFormat::yuy2 ? format.width * 2 : format.width;
  EXPECT_EQ(camera.render({format.pixels, format.width, format.height, bytes.data(), pitch}),
            picture::CameraPicture::Shown::frame);
  return bytes;
}

void expect_samples_of(const std::vector<directshow::GrabbedSample>& samples,
                       const StreamChoice& choice) {
  const std::vector<uint8_t> expected = expected_picture(choice.format);
  ASSERT_FALSE(samples.empty());
  for (size_t i = 0; i < samples.size(); ++i) {
    const directshow::GrabbedSample& got = samples[i];
    SCOPED_TRACE("sample " + std::to_string(i));
    EXPECT_TRUE(got.timed);
    EXPECT_EQ(got.end - got.start, choice.interval);
    EXPECT_TRUE(got.sync_point);
    EXPECT_EQ(got.discontinuity, i == 0);
    EXPECT_EQ(got.length, static_cast<long>(image_size(choice.format)));
    EXPECT_TRUE(got.bytes == expected) << "not the picture module's bytes";
    if (i > 0) {
      EXPECT_GT(got.start, samples[i - 1].start);
    }
  }
}

class CaptureFilterTest : public testing::Test {
 protected:
  void SetUp() override {
    writer = SectionWriter::open();
    ASSERT_TRUE(writer);
    writer->publish(ramp_frame(1280, 720));
    filter = create_filter();
    ASSERT_TRUE(filter);
    config = pin_as<IAMStreamConfig>(filter.Get());
    ASSERT_TRUE(config);
  }

  std::optional<SectionWriter> writer;
  ComPtr<IBaseFilter> filter;
  ComPtr<IAMStreamConfig> config;
};

TEST_F(CaptureFilterTest, OffersEveryFormatAsACapturePin) {
  int count = 0;
  int size = 0;
  ASSERT_HRESULT_SUCCEEDED(config->GetNumberOfCapabilities(&count, &size));
  ASSERT_EQ(count, static_cast<int>(kCaptureFormats.size()));
  ASSERT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  for (int i = 0; i < count; ++i) {
    VIDEO_STREAM_CONFIG_CAPS caps{};
    const MediaType type = caps_type(*config.Get(), i, &caps);
    const CaptureFormat& format = kCaptureFormats[static_cast<size_t>(i)];
    ASSERT_EQ(type.get().formattype, FORMAT_VideoInfo);
    const BITMAPINFOHEADER& bitmap = video_info(type.get()).bmiHeader;
    EXPECT_EQ(bitmap.biCompression, fourcc(format.pixels));
    EXPECT_EQ(bitmap.biWidth, static_cast<LONG>(format.width));
    EXPECT_EQ(bitmap.biHeight, static_cast<LONG>(format.height));
    EXPECT_EQ(bitmap.biSizeImage, image_size(format));
    EXPECT_EQ(type.get().lSampleSize, image_size(format));
    EXPECT_EQ(video_info(type.get()).AvgTimePerFrame, 333333);
    EXPECT_EQ(caps.MinFrameInterval, 333333);
    EXPECT_EQ(caps.MaxFrameInterval, 666667);
    EXPECT_EQ(caps.MaxOutputSize.cx, static_cast<LONG>(format.width));
  }
  AM_MEDIA_TYPE* past = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps{};
  EXPECT_EQ(config->GetStreamCaps(count, &past, reinterpret_cast<BYTE*>(&caps)), S_FALSE);

  auto properties = pin_as<IKsPropertySet>(filter.Get());
  ASSERT_TRUE(properties);
  GUID category{};
  DWORD returned = 0;
  ASSERT_HRESULT_SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                           &category, sizeof category, &returned));
  EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(returned, sizeof(GUID));

  // Unconnected, GetFormat says what a connection would use: the first.
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_HRESULT_SUCCEEDED(config->GetFormat(&current));
  EXPECT_EQ(video_info(*current).bmiHeader.biCompression, fourcc(kDefaultChoice.format.pixels));
  directshow::delete_media_type(current);
}

TEST_F(CaptureFilterTest, EveryFormatDeliversThePictureModulesBytes) {
  for (int i = 0; i < static_cast<int>(kCaptureFormats.size()); ++i) {
    const CaptureFormat& format = kCaptureFormats[static_cast<size_t>(i)];
    SCOPED_TRACE("caps " + std::to_string(i));
    writer->publish(ramp_frame(1280, 720));  // fresh, well before the placeholder
    // Chosen before connecting: the connection takes it.
    MediaType type = caps_type(*config.Get(), i);
    ASSERT_HRESULT_SUCCEEDED(config->SetFormat(&type.get()));
    auto graph = grabber_graph(filter.Get());
    ASSERT_TRUE(graph);
    AM_MEDIA_TYPE connection = connection_type(filter.Get());
    const MediaType connected = MediaType::adopt(connection);
    ASSERT_EQ(connected.get().formattype, FORMAT_VideoInfo);
    EXPECT_EQ(video_info(connected.get()).bmiHeader.biCompression, fourcc(format.pixels));
    EXPECT_EQ(video_info(connected.get()).bmiHeader.biWidth, static_cast<LONG>(format.width));

    ASSERT_HRESULT_SUCCEEDED(graph->control().Run());
    ASSERT_TRUE(graph->samples().wait_for(3, 10s));
    graph->control().Stop();
    expect_samples_of(graph->samples().take_all(), {format, kShortestInterval});
  }
}

TEST_F(CaptureFilterTest, SetFormatWhileConnectedReconnectsAndRefusesWhileRunning) {
  auto graph = grabber_graph(filter.Get(), /*direct=*/true);
  ASSERT_TRUE(graph);
  AM_MEDIA_TYPE first = connection_type(filter.Get());
  ASSERT_EQ(first.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(video_info(first).bmiHeader.biWidth, 1920);
  directshow::free_media_type(first);

  // NV12 640 x 360 at 15 a second, through the graph's ReconnectEx.
  MediaType type = caps_type(*config.Get(), 8);
  auto& info = *reinterpret_cast<VIDEOINFOHEADER*>(type.get().pbFormat);
  info.AvgTimePerFrame = 666667;
  ASSERT_HRESULT_SUCCEEDED(config->SetFormat(&type.get()));
  AM_MEDIA_TYPE now = connection_type(filter.Get());
  ASSERT_EQ(now.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(video_info(now).bmiHeader.biCompression, fourcc(picture::PixelFormat::nv12));
  EXPECT_EQ(video_info(now).bmiHeader.biWidth, 640);
  EXPECT_EQ(video_info(now).AvgTimePerFrame, 666667);
  directshow::free_media_type(now);

  ASSERT_HRESULT_SUCCEEDED(graph->control().Run());
  EXPECT_EQ(config->SetFormat(&type.get()), VFW_E_NOT_STOPPED);
  ASSERT_TRUE(graph->samples().wait_for(3, 10s));
  graph->control().Stop();
  expect_samples_of(graph->samples().take_all(), {{picture::PixelFormat::nv12, 640, 360}, 666667});

  // A format not offered is refused and changes nothing.
  info.bmiHeader.biWidth = 800;
  EXPECT_EQ(config->SetFormat(&type.get()), VFW_E_INVALIDMEDIATYPE);
  AM_MEDIA_TYPE kept = connection_type(filter.Get());
  ASSERT_EQ(kept.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(video_info(kept).bmiHeader.biWidth, 640);
  directshow::free_media_type(kept);
}

TEST_F(CaptureFilterTest, RunStopCyclesStreamEachTimeAndKeepNoThreadWhileStopped) {
  auto graph = grabber_graph(filter.Get());
  ASSERT_TRUE(graph);
  auto dropped = pin_as<IAMDroppedFrames>(filter.Get());
  ASSERT_TRUE(dropped);
  const size_t stopped_threads = thread_count();
  long grabbed_in_all = 0;
  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    ASSERT_HRESULT_SUCCEEDED(graph->control().Run());
    ASSERT_TRUE(graph->samples().wait_for(3, 10s));
    ASSERT_HRESULT_SUCCEEDED(graph->control().Stop());
    const std::vector<directshow::GrabbedSample> samples = graph->samples().take_all();
    grabbed_in_all += static_cast<long>(samples.size());
    expect_samples_of(samples, kDefaultChoice);
    EXPECT_EQ(thread_count(), stopped_threads);
  }
  // Paused, a live source sends nothing.
  ASSERT_HRESULT_SUCCEEDED(graph->control().Pause());
  OAFilterState state = 0;
  EXPECT_EQ(graph->control().GetState(1000, &state), VFW_S_CANT_CUE);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(graph->samples().count(), 0u);
  ASSERT_HRESULT_SUCCEEDED(graph->control().Stop());
  long delivered = 0;
  ASSERT_HRESULT_SUCCEEDED(dropped->GetNumNotDropped(&delivered));
  // A sample whose Receive the Stop cut short is not counted as delivered.
  EXPECT_LE(delivered, grabbed_in_all);
  EXPECT_GE(delivered, grabbed_in_all - 3);
}

}  // namespace
}  // namespace korvex::capture_filter::test
