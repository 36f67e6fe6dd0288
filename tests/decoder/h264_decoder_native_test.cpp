#include <gtest/gtest.h>

#include <cstdlib>

#include "decoder/h264_decoder.hpp"
#include "decoder/sps_picture.hpp"
#include "x264_stream.hpp"

namespace korvex::decoder {
namespace {

using test::AccessUnit;
using test::encode_stream;
using test::StreamShape;

std::unique_ptr<H264Decoder> make_decoder(uint32_t width, uint32_t height) {
  auto created = H264Decoder::create(width, height);
  EXPECT_TRUE(created.ok()) << created.error();
  return created ? std::move(created).value() : nullptr;
}

// Mean absolute difference between the decoded luma and what x264 was given.
double luma_error(const Nv12Frame& frame, uint32_t index) {
  const std::vector<uint8_t> source = test::source_luma(frame.width, frame.height, index);
  uint64_t sum = 0;
  for (size_t i = 0; i < source.size(); ++i) {
    sum += static_cast<uint64_t>(std::abs(int{frame.data[i]} - int{source[i]}));
  }
  return static_cast<double>(sum) / static_cast<double>(source.size());
}

// Decodes `units` and expects one picture per access unit, of the given size,
// with the unit's time, close to the source picture.
void expect_pictures(H264Decoder& decoder, const std::vector<AccessUnit>& units, uint32_t width,
                     uint32_t height) {
  for (uint32_t i = 0; i < units.size(); ++i) {
    auto frames = decoder.decode(Payload::copy_of(units[i].data), units[i].pts_us);
    ASSERT_TRUE(frames.ok()) << "unit " << i << ": " << frames.error();
    ASSERT_EQ(frames->size(), 1u) << "unit " << i;
    const Nv12Frame frame = pack_nv12(frames->front());
    EXPECT_EQ(frame.width, width);
    EXPECT_EQ(frame.height, height);
    EXPECT_EQ(frame.data.size(), size_t{width} * height * 3 / 2);
    EXPECT_EQ(frame.timestamp_us, units[i].pts_us);
    EXPECT_LT(luma_error(frame, i), 3.0) << "unit " << i;
    // The source's chroma is flat 100 / 160; NV12 interleaves Cb, Cr.
    const size_t chroma = size_t{width} * height;
    EXPECT_NEAR(frame.data[chroma], 100, 3);
    EXPECT_NEAR(frame.data[chroma + 1], 160, 3);
    EXPECT_NEAR(frame.data.back(), 160, 3);
  }
  EXPECT_EQ(decoder.width(), width);
  EXPECT_EQ(decoder.height(), height);
}

TEST(H264Decoder, CreatesFor720pWhenNoSizeIsGiven) {
  auto decoder = make_decoder(0, 0);
  ASSERT_TRUE(decoder);
  EXPECT_EQ(decoder->width(), 1280u);
  EXPECT_EQ(decoder->height(), 720u);
}

TEST(H264Decoder, Decodes720pWithTimesPassedThrough) {
  auto decoder = make_decoder(1280, 720);
  ASSERT_TRUE(decoder);
  StreamShape shape{1280, 720, 8, 30, 5'000'000};
  expect_pictures(*decoder, encode_stream(shape), 1280, 720);
}

// 1080p is coded as 1920x1088; only the 1080 visible rows may come out, or
// the frame section refuses every frame.
TEST(H264Decoder, Decodes1080pAsTheVisible1920x1080) {
  const auto units = encode_stream({1920, 1080, 4});
  const auto sps = find_sps_picture(units.front().data);
  ASSERT_TRUE(sps.has_value());
  EXPECT_EQ(sps->coded_height, 1088u);
  EXPECT_EQ(sps->visible, (VisibleArea{0, 0, 1920, 1080}));

  auto decoder = make_decoder(1920, 1080);
  ASSERT_TRUE(decoder);
  expect_pictures(*decoder, units, 1920, 1080);
}

TEST(H264Decoder, DecodesPortrait1080x1920) {
  auto decoder = make_decoder(1080, 1920);
  ASSERT_TRUE(decoder);
  expect_pictures(*decoder, encode_stream({1080, 1920, 2}), 1080, 1920);
}

TEST(H264Decoder, ReportsACorruptUnitAndRecoversAtTheNextKeyframe) {
  const auto units = encode_stream({640, 360, 20, 10});
  ASSERT_TRUE(units[10].keyframe);
  auto decoder = make_decoder(640, 360);
  ASSERT_TRUE(decoder);

  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(decoder->decode(Payload::copy_of(units[i].data), units[i].pts_us).ok());
  }
  // Scramble the slice data behind its header.
  std::vector<uint8_t> damaged = units[3].data;
  for (size_t i = 12; i < damaged.size(); ++i) {
    damaged[i] = static_cast<uint8_t>(i * 37 + 11);
  }
  auto broken = decoder->decode(Payload::copy_of(damaged), units[3].pts_us);
  ASSERT_FALSE(broken.ok());
  EXPECT_NE(broken.error().find(": "), std::string::npos) << broken.error();

  // Frames behind the damage may fail too; from the keyframe on, all is well.
  for (int i = 4; i < 10; ++i) {
    (void)decoder->decode(Payload::copy_of(units[i].data), units[i].pts_us);
  }
  for (uint32_t i = 10; i < units.size(); ++i) {
    auto frames = decoder->decode(Payload::copy_of(units[i].data), units[i].pts_us);
    ASSERT_TRUE(frames.ok()) << "unit " << i << ": " << frames.error();
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_LT(luma_error(pack_nv12(frames->front()), i), 3.0);
  }
}

TEST(H264Decoder, FollowsASizeChangeMidStream) {
  auto decoder = make_decoder(640, 360);
  ASSERT_TRUE(decoder);
  expect_pictures(*decoder, encode_stream({640, 360, 3}), 640, 360);
  expect_pictures(*decoder, encode_stream({1280, 720, 3, 30, 100'000}), 1280, 720);
}

TEST(H264Decoder, EmptyAccessUnitGivesNoPictureAndKeepsTheDecoder) {
  auto decoder = make_decoder(640, 360);
  ASSERT_TRUE(decoder);
  auto nothing = decoder->decode({}, 0);
  ASSERT_TRUE(nothing.ok());
  EXPECT_TRUE(nothing->empty());
  expect_pictures(*decoder, encode_stream({640, 360, 2}), 640, 360);
}

TEST(H264Decoder, RefusesUnitsNotOpeningWithAStartCodeAndDecodesOn) {
  const auto units = encode_stream({640, 360, 3});
  auto decoder = make_decoder(640, 360);
  ASSERT_TRUE(decoder);
  expect_pictures(*decoder, {units[0]}, 640, 360);

  std::vector<uint8_t> junk_first = {0x65};  // a real unit behind one stray byte
  junk_first.insert(junk_first.end(), units[1].data.begin(), units[1].data.end());
  const std::vector<std::vector<uint8_t>> refused = {
      std::vector<uint8_t>(4096, 0xFF), {0, 1, 0x65, 0x88}, {0, 0, 0, 0}, junk_first};
  for (const auto& bytes : refused) {
    auto result = decoder->decode(Payload::copy_of(bytes), 1);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().find("start code"), std::string::npos) << result.error();
  }

  // The stream goes on where it was; a three-byte start code is one too.
  std::vector<uint8_t> short_code = units[1].data;
  ASSERT_EQ(short_code[0], 0);
  short_code.erase(short_code.begin());
  ASSERT_EQ(short_code[0], 0);
  ASSERT_EQ(short_code[1], 0);
  ASSERT_EQ(short_code[2], 1);
  for (const auto& [bytes, index] : {std::pair{short_code, 1u}, std::pair{units[2].data, 2u}}) {
    auto frames = decoder->decode(Payload::copy_of(bytes), units[index].pts_us);
    ASSERT_TRUE(frames.ok()) << frames.error();
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_LT(luma_error(pack_nv12(frames->front()), index), 3.0);
  }
}

}  // namespace
}  // namespace korvex::decoder
