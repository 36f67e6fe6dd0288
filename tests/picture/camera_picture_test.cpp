#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "picture/camera_picture.hpp"
#include "picture/placeholder.hpp"
#include "section/frame_section.hpp"
#include "section_memory.hpp"

namespace korvex::picture {
namespace {

using section::nv12;
using section::SectionMemory;

// A section in plain memory behind the opener, and a clock the test moves.
class CameraPictureTest : public testing::Test {
 protected:
  CameraPicture make() {
    return CameraPicture(
        [this]() -> Result<section::MappedSection> {
          ++opens;
          if (!exists) {
            return fail("OpenFileMappingW: not found");
          }
          return section::MappedSection(memory.data(), [](uint8_t*) {});
        },
        [this] { return now.load(); });
  }

  void publish(const Nv12Frame& frame) {
    auto geometry = section::adopt_section(memory.data());
    ASSERT_TRUE(geometry);
    section::publish_frame(memory.data(), geometry.value(), frame, now);
  }

  struct Picture {
    std::vector<uint8_t> bytes;
    PictureBuffer buffer;
    uint8_t y(uint32_t x, uint32_t row) const { return bytes[uint64_t{row} * buffer.pitch + x]; }
    uint8_t uv(uint32_t x, uint32_t row) const {
      return bytes[uint64_t{buffer.pitch} * (buffer.height + row) + x];
    }
  };
  static Picture buffer(PixelFormat format, uint32_t width, uint32_t height, uint32_t pitch) {
    Picture p;
    p.bytes.assign(uint64_t{pitch} * height * (format == PixelFormat::yuy2 ? 2 : 3) / 2 + 64, 0xEE);
    p.buffer = PictureBuffer{format, width, height, p.bytes.data(), pitch};
    return p;
  }

  SectionMemory memory;
  bool exists = true;
  int opens = 0;
  std::atomic<uint64_t> now{10'000};
};

// Luma rising along each row (x + row, per frame offset), chroma per row.
Nv12Frame gradient(uint32_t width, uint32_t height, uint8_t offset) {
  Nv12Frame frame = nv12(width, height, 0);
  for (uint32_t row = 0; row < height; ++row) {
    for (uint32_t x = 0; x < width; ++x) {
      frame.data[uint64_t{row} * width + x] = static_cast<uint8_t>(x + row + offset);
    }
  }
  for (uint32_t row = 0; row < height / 2; ++row) {
    for (uint32_t x = 0; x < width; ++x) {
      frame.data[uint64_t{width} * height + uint64_t{row} * width + x] =
          static_cast<uint8_t>(100 + row + x % 2);
    }
  }
  return frame;
}

// Four flat quadrants: 40, 90 / 140, 190.
Nv12Frame quadrants(uint32_t width, uint32_t height) {
  Nv12Frame frame = nv12(width, height, 128);
  for (uint32_t row = 0; row < height; ++row) {
    for (uint32_t x = 0; x < width; ++x) {
      frame.data[uint64_t{row} * width + x] =
          static_cast<uint8_t>(40 + (x >= width / 2 ? 50 : 0) + (row >= height / 2 ? 100 : 0));
    }
  }
  return frame;
}

TEST(Place, FitsTheWholePictureCentredOnEvenCoordinates) {
  const Placement same = place(1280, 720, 1920, 1080);
  EXPECT_EQ(same.x, 0u);
  EXPECT_EQ(same.y, 0u);
  EXPECT_EQ(same.width, 1920u);
  EXPECT_EQ(same.height, 1080u);
  const Placement portrait = place(1080, 1920, 1280, 720);  // pillarboxed
  EXPECT_EQ(portrait.height, 720u);
  EXPECT_EQ(portrait.width, 404u);
  EXPECT_EQ(portrait.x, 438u);
  const Placement wide = place(2560, 1080, 1280, 720);  // letterboxed
  EXPECT_EQ(wide.width, 1280u);
  EXPECT_EQ(wide.height, 540u);
  EXPECT_EQ(wide.y, 90u);
  const Placement tiny = place(2, 1000, 640, 360);  // never less than one chroma sample
  EXPECT_EQ(tiny.width, 2u);
  EXPECT_EQ(tiny.x % 2, 0u);
}

TEST_F(CameraPictureTest, CopiesAFrameOfTheSelectedSizeRowByRow) {
  auto camera = make();
  const Nv12Frame frame = gradient(640, 360, 7);
  publish(frame);
  Picture out = buffer(PixelFormat::nv12, 640, 360, 704);  // padded rows
  ASSERT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  EXPECT_EQ(camera.last_frame_number(), 1u);
  for (uint32_t row = 0; row < 360; row += 7) {
    for (uint32_t x = 0; x < 640; x += 5) {
      ASSERT_EQ(out.y(x, row), frame.data[row * 640 + x]) << x << "," << row;
    }
    ASSERT_EQ(out.y(640, row), 0xEE);  // padding untouched
  }
  for (uint32_t row = 0; row < 180; row += 3) {
    ASSERT_EQ(out.uv(1, row), frame.data[640 * 360 + row * 640 + 1]);
  }
}

TEST_F(CameraPictureTest, ScalesOtherSizesKeepingTheirShape) {
  auto camera = make();
  publish(quadrants(1280, 720));
  Picture out = buffer(PixelFormat::nv12, 1920, 1080, 1920);
  ASSERT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  // Same aspect ratio: no bars, each quadrant keeps its level away from the seams.
  EXPECT_EQ(out.y(10, 10), 40);
  EXPECT_EQ(out.y(1910, 10), 90);
  EXPECT_EQ(out.y(10, 1070), 140);
  EXPECT_EQ(out.y(1910, 1070), 190);
  EXPECT_EQ(out.y(900, 500), 40);
  EXPECT_EQ(out.y(1020, 580), 190);
  EXPECT_EQ(out.uv(500, 300), 128);

  // A portrait phone: pillarboxed, black bars left and right.
  publish(quadrants(1080, 1920));
  Picture small = buffer(PixelFormat::nv12, 1280, 720, 1280);
  ASSERT_EQ(camera.render(small.buffer), CameraPicture::Shown::frame);
  EXPECT_EQ(small.y(0, 360), 16);
  EXPECT_EQ(small.y(436, 360), 16);
  EXPECT_EQ(small.y(843, 360), 16);
  EXPECT_EQ(small.y(1279, 700), 16);
  EXPECT_EQ(small.uv(100, 100), 128);
  EXPECT_EQ(small.y(450, 20), 40);
  EXPECT_EQ(small.y(830, 20), 90);
  EXPECT_EQ(small.y(450, 700), 140);
  EXPECT_EQ(small.y(830, 700), 190);

  // A landscape phone in a 4:3 size: letterboxed, 640x360 centred in 640x480.
  publish(quadrants(1280, 720));
  Picture four_three = buffer(PixelFormat::nv12, 640, 480, 640);
  ASSERT_EQ(camera.render(four_three.buffer), CameraPicture::Shown::frame);
  for (uint32_t row : {0u, 59u, 420u, 479u}) {
    EXPECT_EQ(four_three.y(320, row), 16) << "bar at row " << row;
  }
  EXPECT_EQ(four_three.uv(320, 10), 128);
  EXPECT_EQ(four_three.y(10, 70), 40);
  EXPECT_EQ(four_three.y(630, 70), 90);
  EXPECT_EQ(four_three.y(10, 410), 140);
  EXPECT_EQ(four_three.y(630, 410), 190);
}

TEST_F(CameraPictureTest, ShowsThePlaceholderWithoutAPhone) {
  exists = false;
  auto camera = make();
  Picture out = buffer(PixelFormat::nv12, 1280, 720, 1280);
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::placeholder);
  EXPECT_EQ(out.y(0, 0), kPlaceholderTopLuma);
  // It says something: some pixels are far brighter than the background.
  int bright = 0;
  for (uint32_t row = 0; row < 720; ++row) {
    for (uint32_t x = 0; x < 1280; ++x) {
      bright += out.y(x, row) > 150;
    }
  }
  EXPECT_GT(bright, 1000);
  EXPECT_LT(bright, 1280 * 720 / 10);

  // A missing section is looked for again every 500 ms, not on every picture.
  camera.render(out.buffer);
  EXPECT_EQ(opens, 1);
  now += 500;
  exists = true;  // the section appears, still all zero: placeholder
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::placeholder);
  EXPECT_EQ(opens, 2);

  publish(gradient(1280, 720, 0));
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);

  // Frames stop: the picture holds until the activity is 2000 ms old.
  now += 2000;
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  now += 1;
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::placeholder);
  EXPECT_EQ(out.y(0, 0), kPlaceholderTopLuma);
  section::store_activity_tick(memory.data(), now);  // a heartbeat without frames
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
}

// Buffers that go round: each is drawn when the picture to show is not the one it holds.
TEST_F(CameraPictureTest, DrawsACycledBufferOnlyWhenItsPictureChanged) {
  auto camera = make();
  Picture a = buffer(PixelFormat::nv12, 640, 360, 640);
  Picture b = buffer(PixelFormat::nv12, 640, 360, 640);
  HeldPicture held_a;
  HeldPicture held_b;
  auto drawn = [](const Picture& p) { return p.y(0, 0) != 0xEE; };
  auto clear = [](Picture& p) { std::fill(p.bytes.begin(), p.bytes.end(), 0xEE); };

  // The placeholder is a picture too: drawn once into each buffer.
  EXPECT_EQ(camera.render(a.buffer, held_a), CameraPicture::Shown::placeholder);
  EXPECT_EQ(camera.render(b.buffer, held_b), CameraPicture::Shown::placeholder);
  ASSERT_TRUE(drawn(a) && drawn(b));
  clear(a);
  EXPECT_EQ(camera.render(a.buffer, held_a), CameraPicture::Shown::placeholder);
  EXPECT_FALSE(drawn(a));

  // A new frame is drawn into every buffer once, as each comes round.
  publish(gradient(640, 360, 3));
  EXPECT_EQ(camera.render(a.buffer, held_a), CameraPicture::Shown::frame);
  EXPECT_EQ(a.y(5, 0), 8);
  clear(a);
  camera.render(a.buffer, held_a);
  EXPECT_FALSE(drawn(a));
  camera.render(b.buffer, held_b);
  EXPECT_EQ(b.y(5, 0), 8);

  // The same buffer at another size, or a buffer never drawn, is drawn again.
  a.buffer.width = 320;
  camera.render(a.buffer, held_a);
  EXPECT_TRUE(drawn(a));
  HeldPicture fresh;
  clear(b);
  camera.render(b.buffer, fresh);
  EXPECT_EQ(b.y(5, 0), 8);

  // The phone goes quiet: back to the placeholder.
  now += 2001;
  clear(b);
  EXPECT_EQ(camera.render(b.buffer, held_b), CameraPicture::Shown::placeholder);
  EXPECT_EQ(b.y(0, 0), kPlaceholderTopLuma);
}

TEST_F(CameraPictureTest, KeepsThePreviousFrameWhenTheNewestSlotIsDamaged) {
  auto camera = make();
  publish(gradient(640, 360, 3));
  Picture out = buffer(PixelFormat::nv12, 640, 360, 640);
  ASSERT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  publish(gradient(640, 360, 9));
  // Frame 2's slot header claims a stride other than its width.
  const uint64_t slot =
      section::kHeaderSize + 2 * (section::kSlotHeaderSize + section::kMaxSlotSize);
  memory.set<uint32_t>(slot + 28, 1280);
  EXPECT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  EXPECT_EQ(camera.last_frame_number(), 1u);
  EXPECT_EQ(out.y(0, 0), 3);
}

TEST_F(CameraPictureTest, WritesYuy2FromTheSamePicture) {
  auto camera = make();
  const Nv12Frame frame = gradient(640, 360, 1);
  publish(frame);
  Picture out = buffer(PixelFormat::yuy2, 640, 360, 1280);
  ASSERT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  for (uint32_t row : {0u, 1u, 200u, 359u}) {
    const uint8_t* line = out.bytes.data() + uint64_t{row} * 1280;
    const uint8_t* chroma = frame.data.data() + 640 * 360 + uint64_t{row / 2} * 640;
    EXPECT_EQ(line[20], frame.data[row * 640 + 10]);
    EXPECT_EQ(line[21], chroma[10]);
    EXPECT_EQ(line[22], frame.data[row * 640 + 11]);
    EXPECT_EQ(line[23], chroma[11]);
  }
}

TEST_F(CameraPictureTest, WritesI420FromTheSamePicture) {
  auto camera = make();
  const Nv12Frame frame = gradient(640, 360, 5);
  publish(frame);
  // A pitch wider than the row: the chroma planes use half of it.
  Picture out = buffer(PixelFormat::i420, 640, 360, 704);
  ASSERT_EQ(camera.render(out.buffer), CameraPicture::Shown::frame);
  const uint8_t* cb = out.bytes.data() + uint64_t{704} * 360;
  const uint8_t* cr = cb + uint64_t{352} * 180;
  for (uint32_t row : {0u, 1u, 179u}) {
    const uint8_t* pairs = frame.data.data() + 640 * 360 + uint64_t{row} * 640;
    for (uint32_t x : {0u, 7u, 319u}) {
      EXPECT_EQ(cb[uint64_t{row} * 352 + x], pairs[2 * x]);
      EXPECT_EQ(cr[uint64_t{row} * 352 + x], pairs[2 * x + 1]);
    }
  }
  for (uint32_t row : {0u, 359u}) {
    EXPECT_EQ(out.bytes[uint64_t{row} * 704 + 639], frame.data[uint64_t{row} * 640 + 639]);
    EXPECT_EQ(out.bytes[uint64_t{row} * 704 + 640], 0xEE) << "luma padding written";
  }
}

// Every picture the camera shows is one whole frame while a writer publishes
// as fast as it can: frame n is flat luma and chroma of one value.
TEST_F(CameraPictureTest, NeverShowsATornFrame) {
  auto camera = make();
  publish(nv12(320, 180, 1));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    auto geometry = section::adopt_section(memory.data()).value();
    for (uint64_t n = 2; !stop; ++n) {
      section::publish_frame(memory.data(), geometry, nv12(320, 180, static_cast<uint8_t>(n)), now);
    }
  });
  Picture out = buffer(PixelFormat::nv12, 320, 180, 320);
  int frames = 0;
  for (int i = 0; i < 2000; ++i) {
    if (camera.render(out.buffer) != CameraPicture::Shown::frame) {
      continue;
    }
    ++frames;
    const uint8_t value = out.y(0, 0);
    for (uint64_t k = 0; k < out.bytes.size() - 64; k += 97) {
      ASSERT_EQ(out.bytes[k], value) << "torn picture at byte " << k;
    }
  }
  stop = true;
  writer.join();
  EXPECT_GT(frames, 1000);
}

}  // namespace
}  // namespace korvex::picture
