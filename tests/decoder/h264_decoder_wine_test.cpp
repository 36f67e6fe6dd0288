#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <utility>

#include "decoder/h264_decoder.hpp"
#include "decoder/media_foundation_win.hpp"
#include "stream_file.hpp"

namespace korvex::decoder {
namespace {

using test::StoredUnit;

// The stream files written by the native build's generator (make_streams.sh).
std::optional<std::vector<StoredUnit>> load(const std::string& name) {
  const char* dir = std::getenv("KORVEX_TEST_STREAMS");
  if (dir == nullptr) {
    return std::nullopt;
  }
  std::string path = std::string(dir) + "/" + name;
  if (path.front() == '/') {
    path = "Z:" + path;  // Wine shows the Unix file system as drive Z:
  }
  return test::read_stream_file(path);
}

// A missing file fails the test: make_streams.sh writes every one of them.
#define LOAD_OR_FAIL(units, name) \
  auto units = load(name);        \
  ASSERT_TRUE(units) << name << " is missing from KORVEX_TEST_STREAMS";

// Decodes every unit and compares each picture with the one libavcodec made
// from the unit of the same time: size, and luma bit for bit (the streams
// are tagged BT.601, which the decoder here leaves unconverted).
void expect_reference_pictures(const std::vector<StoredUnit>& units) {
  init_decoder_thread();
  auto created = H264Decoder::create(units.front().reference_width, units.front().reference_height);
  ASSERT_TRUE(created.ok()) << created.error();
  H264Decoder& decoder = *created.value();

  std::map<uint64_t, const StoredUnit*> by_time;
  for (const StoredUnit& unit : units) {
    by_time[unit.pts_us] = &unit;
  }
  size_t pictures = 0;
  uint64_t last_time = 0;
  for (const StoredUnit& unit : units) {
    auto frames = decoder.decode(Payload::copy_of(unit.data), unit.pts_us);
    ASSERT_TRUE(frames.ok()) << frames.error() << " at time " << unit.pts_us;
    for (const Picture& picture : frames.value()) {
      const Nv12Frame frame = pack_nv12(picture);
      const auto match = by_time.find(frame.timestamp_us);
      ASSERT_NE(match, by_time.end()) << "time " << frame.timestamp_us << " was never sent";
      EXPECT_TRUE(pictures == 0 || frame.timestamp_us > last_time);
      last_time = frame.timestamp_us;
      const StoredUnit& reference = *match->second;
      ASSERT_EQ(frame.width, reference.reference_width);
      ASSERT_EQ(frame.height, reference.reference_height);
      ASSERT_EQ(frame.data.size(), size_t{frame.width} * frame.height * 3 / 2);
      EXPECT_EQ(test::luma_hash(std::span(frame.data).first(size_t{frame.width} * frame.height)),
                reference.reference_luma_hash)
          << "luma differs at time " << frame.timestamp_us;
      ++pictures;
    }
  }
  // The decoder here holds a picture or two back and never lets them out.
  EXPECT_GE(pictures + 2, units.size());
}

TEST(MediaFoundation, StartsOnceAndReportsTheSameOutcome) {
  EXPECT_TRUE(ensure_media_foundation().ok());
  EXPECT_TRUE(ensure_media_foundation().ok());
}

// Also for a size beyond what the decoder can decode, whose output buffers
// would otherwise be sized for it until the stream says otherwise.
TEST(H264DecoderWine, CreatesFor720pWhenNoSizeOrAnUndecodableOneIsGiven) {
  init_decoder_thread();
  for (const auto& [width, height] :
       {std::pair{0u, 0u}, {8192u, 8192u}, {4097u, 2304u}, {0u, 8192u}}) {
    auto created = H264Decoder::create(width, height);
    ASSERT_TRUE(created.ok()) << created.error();
    EXPECT_EQ(created.value()->width(), 1280u) << width << "x" << height;
    EXPECT_EQ(created.value()->height(), 720u) << width << "x" << height;
  }
  auto largest = H264Decoder::create(4096, 2304);
  ASSERT_TRUE(largest.ok()) << largest.error();
  EXPECT_EQ(largest.value()->width(), 4096u);
}

TEST(H264DecoderWine, Decodes720pLikeLibavcodecWithTimesPassedThrough) {
  LOAD_OR_FAIL(units, "720p.kvs");
  expect_reference_pictures(*units);
}

TEST(H264DecoderWine, RefusesAUnitNotOpeningWithAStartCodeAndDecodesOn) {
  LOAD_OR_FAIL(units, "720p.kvs");
  init_decoder_thread();
  auto created = H264Decoder::create(1280, 720);
  ASSERT_TRUE(created.ok()) << created.error();
  H264Decoder& decoder = *created.value();
  size_t pictures = 0;
  for (size_t i = 0; i < units->size(); ++i) {
    if (i == 2) {
      auto refused = decoder.decode(Payload::copy_of(std::vector<uint8_t>(4096, 0xFF)), 1);
      ASSERT_FALSE(refused.ok());
      EXPECT_NE(refused.error().find("start code"), std::string::npos) << refused.error();
    }
    auto frames = decoder.decode(Payload::copy_of((*units)[i].data), (*units)[i].pts_us);
    ASSERT_TRUE(frames.ok()) << frames.error();
    pictures += frames->size();
  }
  EXPECT_GE(pictures + 2, units->size());
}

// The transform hands out a 1920x1088 surface without an aperture; the
// frames must still be the visible 1920x1080.
TEST(H264DecoderWine, Decodes1080pAsTheVisible1920x1080) {
  LOAD_OR_FAIL(units, "1080p.kvs");
  ASSERT_EQ(units->front().reference_height, 1080u);
  expect_reference_pictures(*units);
}

// A phone held upright: 1080 columns coded as 1088, cropped on the right.
TEST(H264DecoderWine, DecodesPortrait1080x1920) {
  LOAD_OR_FAIL(units, "portrait.kvs");
  ASSERT_EQ(units->front().reference_width, 1080u);
  expect_reference_pictures(*units);
}

// Wine 8's transform fails ProcessOutput (0xD0000001) once a stream changes
// size mid-stream; Windows' decoder reports a stream change. Either way no
// picture of the wrong size may come out, and the decode thread's fresh
// decoder for the new size (after a Configure or five failures) decodes it.
TEST(H264DecoderWine, SizeChangeNeverGivesAWrongSizedPicture) {
  LOAD_OR_FAIL(units, "size-change.kvs");
  ASSERT_EQ(units->back().reference_width, 1280u);
  init_decoder_thread();
  auto created = H264Decoder::create(640, 360);
  ASSERT_TRUE(created.ok()) << created.error();
  size_t first_large = 0;
  while (units->at(first_large).reference_width != 1280) {
    ++first_large;
  }
  for (size_t i = 0; i < units->size(); ++i) {
    const StoredUnit& unit = (*units)[i];
    auto frames = created.value()->decode(Payload::copy_of(unit.data), unit.pts_us);
    if (!frames) {
      EXPECT_GE(i, first_large) << frames.error();
      continue;
    }
    for (const Picture& picture : frames.value()) {
      const Nv12Frame frame = pack_nv12(picture);
      const bool large = frame.timestamp_us >= (*units)[first_large].pts_us;
      EXPECT_EQ(frame.width, large ? 1280u : 640u);
      EXPECT_EQ(frame.data.size(), size_t{frame.width} * frame.height * 3 / 2);
    }
  }
  expect_reference_pictures(std::vector<StoredUnit>(units->begin() + first_large, units->end()));
}

}  // namespace
}  // namespace korvex::decoder
