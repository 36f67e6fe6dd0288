// The decode queue and the decode loop together, fed faster than the decoder
// works: whatever the queue throws away, no damaged picture reaches the frame
// section, and every frame sent is accounted for.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "frames/decode_thread.hpp"

namespace korvex::frames {
namespace {

constexpr uint64_t kGop = 30;
constexpr uint8_t kDamaged = 0xDD;

// Decodes the test's frames, whose pts is their index in the stream. A
// non-key frame refers to the frame just before it: decoded when that one
// was not decoded, or came out damaged, its picture is damaged too, as a real
// decoder's would be, and marked so in its first byte. One picture is held
// back, as Wine's decoder does.
class ChainDecoder : public decoder::H264Decoder {
 public:
  Result<std::span<const Picture>> decode(Payload data, uint64_t index) override {
    const bool intact = data.data()[0] == 1 || (last_ && *last_ + 1 == index && last_intact_);
    last_ = index;
    last_intact_ = intact;
    Nv12Frame picture{std::vector<uint8_t>(6, intact ? 0x10 : kDamaged), index, 2, 2};
    std::span<const Picture> out;
    if (held_) {
      current_ ^= 1;  // the picture handed out last may still be being written
      out_[current_] = std::move(*held_);
      view_[current_] = picture_of(out_[current_]);
      out = std::span<const Picture>(&view_[current_], 1);
    }
    held_ = std::move(picture);
    return out;
  }
  uint32_t width() const override { return 2; }
  uint32_t height() const override { return 2; }

 private:
  std::optional<uint64_t> last_;
  bool last_intact_ = false;
  std::optional<Nv12Frame> held_;
  Nv12Frame out_[2];  // the pictures handed out by the last two calls
  Picture view_[2];
  int current_ = 0;
};

TEST(BrokenChain, ADecoderTwoThirdsAsFastAsTheStreamWritesOnlyIntactPictures) {
  constexpr uint64_t kFrames = 10 * kGop;
  auto queue = std::make_shared<DecodeQueue>(8, 64 << 20);
  auto counters = std::make_shared<counters::Counters>();
  std::vector<uint64_t> written;  // stream indices of intact pictures
  uint64_t damaged = 0;
  uint64_t keyframe_requests = 0;

  DecodeContext context;
  context.queue = queue;
  context.counters = counters;
  context.create_decoder = [](uint32_t, uint32_t) -> Result<std::unique_ptr<decoder::H264Decoder>> {
    return std::unique_ptr<decoder::H264Decoder>(std::make_unique<ChainDecoder>());
  };
  context.write_frame = [&](const Picture& f) {
    if (f.luma[0] == kDamaged) {
      ++damaged;
    } else {
      written.push_back(f.timestamp_us);
    }
  };
  context.request_keyframe = [&] { ++keyframe_requests; };
  context.print_line = [](std::string_view) {};
  DecodeLoop loop(std::move(context));
  loop.handle(Configure{2, 2});

  for (uint64_t i = 0; i < kFrames; ++i) {
    const bool keyframe = i % kGop == 0;
    queue->push(Frame{Payload::copy_of(std::vector<uint8_t>{keyframe}), i, keyframe});
    if (i % 3 != 2 && queue->len() > 0) {  // two decoder steps for every three frames
      loop.handle(queue->pop());
    }
  }
  while (queue->len() > 0) {
    loop.handle(queue->pop());
  }

  EXPECT_EQ(damaged, 0u);
  const uint64_t dropped = counters->frames_dropped + queue->evicted() + queue->orphaned();
  EXPECT_GT(dropped, 0u);
  EXPECT_GT(keyframe_requests, 0u);
  const uint64_t held_back = 1;
  EXPECT_EQ(kFrames, written.size() + dropped + counters->decode_errors + held_back)
      << "written " << written.size() << ", dropped " << dropped;
  EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
  // The picture comes back at every keyframe.
  std::set<uint64_t> groups;
  for (uint64_t index : written) {
    groups.insert(index / kGop);
  }
  EXPECT_EQ(groups.size(), kFrames / kGop) << ::testing::PrintToString(written);
}

}  // namespace
}  // namespace korvex::frames
