// Pictures from the frame section through the source: copied at the same
// size, scaled to another, pillarboxed or letterboxed when the shape
// differs, the placeholder when the writer goes quiet or there is no
// section, and never a torn frame while the writer publishes fast.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>
#include <tuple>

#include "sample_picture.hpp"
#include "section_writer.hpp"
#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

using picture::PixelFormat;

const DWORD kNv12Full = media_type(PixelFormat::nv12, 1920, 1080);
const DWORD kNv12Hd = media_type(PixelFormat::nv12, 1280, 720);
const DWORD kNv12Small = media_type(PixelFormat::nv12, 640, 360);
const DWORD kYuy2Hd = media_type(PixelFormat::yuy2, 1280, 720);

std::optional<Picture> read_picture(CameraSession& session, PixelFormat format, uint32_t width,
                                    uint32_t height) {
  return picture_of(session.read().Get(), format, width, height);
}

void expect_luma_of(const Picture& picture, const Nv12Frame& frame) {
  ASSERT_EQ(picture.width, frame.width);
  ASSERT_EQ(picture.height, frame.height);
  uint64_t differing = 0;
  for (uint32_t y = 0; y < frame.height; ++y) {
    for (uint32_t x = 0; x < frame.width; ++x) {
      differing += picture.luma(x, y) != frame.data[uint64_t{y} * frame.width + x];
    }
  }
  EXPECT_EQ(differing, 0u) << "luma bytes that differ from the frame's";
}

TEST(SectionPictures, SameSizeIsCopiedAndRepeatsUntilTheNextFrame) {
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  const Nv12Frame frame = ramp_frame(1280, 720);
  writer->publish(frame);

  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Hd);
  for (int i = 0; i < 3; ++i) {
    const auto picture = read_picture(*session, PixelFormat::nv12, 1280, 720);
    ASSERT_TRUE(picture);
    expect_luma_of(*picture, frame);
  }
  session->start(kYuy2Hd);
  const auto packed = read_picture(*session, PixelFormat::yuy2, 1280, 720);
  ASSERT_TRUE(packed);
  expect_luma_of(*packed, frame);
}

TEST(SectionPictures, SmallerFrameIsScaledUpToTheSelectedSize) {
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  const uint8_t levels[4] = {40, 90, 160, 220};
  writer->publish(quadrant_frame(1280, 720, levels));

  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Full);
  const auto picture = read_picture(*session, PixelFormat::nv12, 1920, 1080);
  ASSERT_TRUE(picture);
  // Same shape, so no bars: each quadrant keeps its level away from the edges.
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    const uint32_t left = quadrant % 2 == 0 ? 0 : 960;
    const uint32_t top = quadrant < 2 ? 0 : 540;
    for (uint32_t y = top + 60; y < top + 540 - 60; y += 70) {
      for (uint32_t x = left + 60; x < left + 960 - 60; x += 110) {
        EXPECT_NEAR(picture->luma(x, y), levels[quadrant], 2) << "at " << x << "," << y;
      }
    }
  }
}

TEST(SectionPictures, PortraitFrameIsPillarboxed) {
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  writer->publish(flat_frame(1080, 1920, 180));

  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Hd);
  const auto picture = read_picture(*session, PixelFormat::nv12, 1280, 720);
  ASSERT_TRUE(picture);
  // 1080 x 1920 fitted into 720 rows is 405 columns wide, centred: columns
  // 437 to 842 hold the picture, the rest are black bars.
  const uint8_t* chroma = picture->bytes.data() + 1280 * 720;
  for (uint32_t y = 0; y < 720; y += 9) {
    for (uint32_t x : {0u, 150u, 300u, 420u, 860u, 1000u, 1150u, 1278u}) {
      EXPECT_LE(picture->luma(x, y), 16) << "bar at " << x << "," << y;
      const uint8_t* pair = chroma + (y / 2) * 1280 + (x & ~1u);
      EXPECT_NEAR(pair[0], 128, 2) << "bar chroma at " << x << "," << y;
      EXPECT_NEAR(pair[1], 128, 2) << "bar chroma at " << x << "," << y;
    }
    for (uint32_t x : {480u, 640u, 800u}) {
      EXPECT_NEAR(picture->luma(x, y), 180, 2) << "picture at " << x << "," << y;
    }
  }
}

TEST(SectionPictures, FourThreeSizesShowWhatThePictureModuleShows) {
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  const uint8_t levels[4] = {40, 90, 160, 220};
  writer->publish(quadrant_frame(1280, 720, levels));

  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  for (auto [pixels, width, height] :
       {std::tuple{PixelFormat::nv12, 640u, 480u}, {PixelFormat::yuy2, 1280u, 960u}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    session->start(media_type(pixels, width, height));
    const auto picture = read_picture(*session, pixels, width, height);
    ASSERT_TRUE(picture);
    // Letterboxed: black above and below the 16:9 picture.
    EXPECT_LE(picture->luma(width / 2, 0), 16);
    EXPECT_LE(picture->luma(width / 2, height - 1), 16);
    EXPECT_NEAR(picture->luma(width / 4, height / 2 - height / 8), levels[0], 2);
    EXPECT_TRUE(*picture == section_picture(pixels, width, height))
        << "byte for byte the picture the Linux camera shows at this size";
  }
}

TEST(SectionPictures, PlaceholderOnceTheWriterGoesQuiet) {
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  const Nv12Frame frame = flat_frame(640, 360, 77);
  writer->publish(frame);  // the last sign of life
  const auto published = std::chrono::steady_clock::now();
  const Picture waiting = placeholder(PixelFormat::nv12, 640, 360);

  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Small);
  const auto first = read_picture(*session, PixelFormat::nv12, 640, 360);
  ASSERT_TRUE(first);
  expect_luma_of(*first, frame);

  bool placeholder_seen = false;
  while (std::chrono::steady_clock::now() - published < 2500ms) {
    const auto picture = read_picture(*session, PixelFormat::nv12, 640, 360);
    ASSERT_TRUE(picture);
    if (*picture == waiting) {
      placeholder_seen = true;
    } else {
      ASSERT_FALSE(placeholder_seen) << "the frame came back with no new activity";
      expect_luma_of(*picture, frame);
    }
  }
  EXPECT_EQ(read_picture(*session, PixelFormat::nv12, 640, 360), waiting)
      << "2.5 s after the last activity";
}

TEST(SectionPictures, PlaceholderWithoutASection) {
  // No writer and no other source in this process holds the section, and
  // the test takes the frame section's lock, so none exists.
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Full);
  EXPECT_EQ(read_picture(*session, PixelFormat::nv12, 1920, 1080),
            placeholder(PixelFormat::nv12, 1920, 1080));
  session->start(kYuy2Hd);
  EXPECT_EQ(read_picture(*session, PixelFormat::yuy2, 1280, 720),
            placeholder(PixelFormat::yuy2, 1280, 720));
}

TEST(SectionPictures, NeverATornFrameWhileTheWriterRuns) {
  auto writer = SectionWriter::open();
  ASSERT_TRUE(writer);
  std::atomic<bool> writing{true};
  std::thread publisher([&] {
    // Each frame one flat level: a picture made of two frames has two. A
    // frame every 2 ms is far beyond any phone and still laps the reader's
    // slot whenever the reader is held up mid-copy on a busy machine.
    for (uint32_t n = 0; writing.load(); ++n) {
      writer->publish(flat_frame(640, 360, static_cast<uint8_t>(16 + n % 220)));
      std::this_thread::sleep_for(2ms);
    }
  });

  auto session = CameraSession::open();
  if (session) {
    session->start(kNv12Small);
  }
  const Picture waiting = placeholder(PixelFormat::nv12, 640, 360);
  std::set<uint8_t> levels;
  for (int i = 0; session && session->stream && i < 60; ++i) {
    const auto picture = read_picture(*session, PixelFormat::nv12, 640, 360);
    if (!picture) {
      break;  // read() has failed the test
    }
    // Before the first frame is copied whole, the camera shows its
    // placeholder; after that it keeps the last whole frame.
    if (levels.empty() && *picture == waiting) {
      continue;
    }
    const uint8_t level = picture->luma(0, 0);
    const auto luma_end = picture->bytes.begin() + 640 * 360;
    const auto off_level =
        std::find_if(picture->bytes.begin(), luma_end, [&](uint8_t y) { return y != level; });
    EXPECT_EQ(off_level, luma_end)
        << "picture " << i << " mixes levels " << int{level} << " and " << int{*off_level}
        << " at byte " << (off_level - picture->bytes.begin());
    EXPECT_TRUE(std::all_of(luma_end, picture->bytes.end(), [](uint8_t c) { return c == 128; }))
        << "picture " << i << " chroma";
    levels.insert(level);
  }
  writing.store(false);
  publisher.join();
  EXPECT_GE(levels.size(), 10u) << "the pictures followed the writer";
}

}  // namespace
}  // namespace korvex::media_source::test
