#include <gtest/gtest.h>
#include <spa/param/format.h>
#include <spa/param/video/format.h>
#include <spa/pod/builder.h>

#include "camera/pipewire_format_linux.hpp"

namespace korvex::camera {
namespace {

class PipeWireFormatTest : public testing::Test {
 protected:
  spa_pod_builder builder() { return SPA_POD_BUILDER_INIT(storage_, sizeof storage_); }
  uint8_t storage_[1024];
};

TEST_F(PipeWireFormatTest, ReadsFixedFormatsAndThePreferredValueOfChoices) {
  spa_pod_builder b = builder();
  const spa_rectangle full{1920, 1080};
  const spa_fraction thirty{30, 1};
  auto* fixed = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_NV12), SPA_FORMAT_VIDEO_size,
      SPA_POD_Rectangle(&full), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&thirty)));
  std::optional<NodeFormat> format = parse_format(fixed);
  ASSERT_TRUE(format);
  MediaType type = format->media_type();
  EXPECT_EQ(subtype_name(type.subtype), "NV12");
  EXPECT_EQ(type.width, 1920u);
  EXPECT_EQ(type.height, 1080u);
  EXPECT_EQ(type.fps, 30.0);

  // A camera that offers sizes and rates as choices: their defaults.
  const spa_rectangle hd{1280, 720};
  const spa_rectangle vga{640, 480};
  const spa_fraction fifteen{15, 1};
  const spa_fraction one{1, 1};
  b = builder();
  auto* choices = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_YUY2,
                             SPA_VIDEO_FORMAT_NV12),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_ENUM_Rectangle(3, &hd, &vga, &hd),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&fifteen, &one, &thirty)));
  format = parse_format(choices);
  ASSERT_TRUE(format);
  type = format->media_type();
  EXPECT_EQ(subtype_name(type.subtype), "YUY2");
  EXPECT_EQ(type.width, 1280u);
  EXPECT_EQ(type.height, 720u);
  EXPECT_EQ(type.fps, 15.0);
}

TEST_F(PipeWireFormatTest, NamesCompressedAndUnnamedFormatsAndSkipsOtherParameters) {
  spa_pod_builder b = builder();
  const spa_rectangle vga{640, 480};
  auto* mjpg = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_mjpg),
      SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&vga)));
  std::optional<NodeFormat> format = parse_format(mjpg);
  ASSERT_TRUE(format);
  EXPECT_EQ(subtype_name(format->media_type().subtype), "MJPG");
  EXPECT_EQ(format->media_type().width, 640u);
  EXPECT_EQ(format->media_type().fps, 0.0);  // no rate given

  b = builder();
  auto* rgb = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_RGB)));
  format = parse_format(rgb);
  ASSERT_TRUE(format);
  EXPECT_EQ(format->media_type().subtype, Guid{});

  b = builder();
  auto* audio = static_cast<const spa_pod*>(
      spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                                 SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_audio),
                                 SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw)));
  EXPECT_FALSE(parse_format(audio));
  b = builder();
  auto* buffers = static_cast<const spa_pod*>(
      spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
                                 SPA_PARAM_BUFFERS_buffers, SPA_POD_Int(4)));
  EXPECT_FALSE(parse_format(buffers));
  EXPECT_FALSE(parse_format(nullptr));
}

}  // namespace
}  // namespace korvex::camera
