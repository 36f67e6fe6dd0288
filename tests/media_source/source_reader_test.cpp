// The source under Media Foundation's source reader, as desktop camera
// applications read it.

#include <windows.h>
// windows.h must come first.
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <gtest/gtest.h>

#include "sample_picture.hpp"
#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

void read_through_source_reader(DWORD type, picture::PixelFormat format, uint32_t width,
                                uint32_t height) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(MFCreateSourceReaderFromMediaSource(session->source.Get(), nullptr, &reader), S_OK);
  ASSERT_EQ(reader->SetStreamSelection(0, TRUE), S_OK);
  ComPtr<IMFMediaType> native;
  ASSERT_EQ(reader->GetNativeMediaType(0, type, &native), S_OK);
  ASSERT_EQ(reader->SetCurrentMediaType(0, nullptr, native.Get()), S_OK);

  ComPtr<IMFMediaType> current;
  ASSERT_EQ(reader->GetCurrentMediaType(0, &current), S_OK);
  UINT64 size = 0;
  ASSERT_EQ(current->GetUINT64(MF_MT_FRAME_SIZE, &size), S_OK);
  EXPECT_EQ(size, UINT64{width} << 32 | height);

  constexpr int kSamples = 10;
  LONGLONG last_time = 0;
  for (int i = 0; i < kSamples; ++i) {
    SCOPED_TRACE(testing::Message() << "sample " << i);
    DWORD stream = 99;
    DWORD flags = 0;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    ASSERT_EQ(reader->ReadSample(0, 0, &stream, &flags, &time, &sample), S_OK);
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM), 0u);
    ASSERT_TRUE(sample);
    EXPECT_TRUE(picture_of(sample.Get(), format, width, height));
    EXPECT_TRUE(i == 0 || time > last_time);
    last_time = time;
  }
}

TEST(SourceReader, Reads720pNv12) {
  read_through_source_reader(media_type(picture::PixelFormat::nv12, 1280, 720),
                             picture::PixelFormat::nv12, 1280, 720);
}

TEST(SourceReader, Reads360pYuy2) {
  read_through_source_reader(media_type(picture::PixelFormat::yuy2, 640, 360),
                             picture::PixelFormat::yuy2, 640, 360);
}

TEST(SourceReader, Reads480pYuy2At15Fps) {
  read_through_source_reader(media_type(picture::PixelFormat::yuy2, 640, 480, 15),
                             picture::PixelFormat::yuy2, 640, 480);
}

}  // namespace
}  // namespace korvex::media_source::test
