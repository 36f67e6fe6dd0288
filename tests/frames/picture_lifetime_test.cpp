// A decoder's pictures are valid only until its next call or its end. A
// decoder that overwrites them then must still see every picture reach the
// writer once, whole and in order, across failed calls and new decoders.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "frames/decode_thread.hpp"

namespace korvex::frames {
namespace {

constexpr uint8_t kPoison = 0xDD;
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 32;

uint8_t fill_of(uint64_t index) {
  return static_cast<uint8_t>(1 + index % 200);  // never kPoison
}

// Pictures numbered in decode order, 0, 1, 2 ..., a varying number per call
// (none, one or two; every 11th call fails). A call poisons the last call's
// pictures before it makes its own, and the decoder's end poisons them: what
// the contract allows a decoder to do.
class PoisoningDecoder : public decoder::H264Decoder {
 public:
  explicit PoisoningDecoder(uint64_t& next_index) : next_index_(next_index) {}
  ~PoisoningDecoder() override { poison(); }

  Result<std::span<const Picture>> decode(Payload, uint64_t) override {
    ++calls_;
    poison();
    if (calls_ % 11 == 0) {
      return fail("avcodec_send_packet: Invalid data found when processing input");
    }
    static constexpr size_t kPerCall[] = {1, 0, 2, 1, 2};
    const size_t count = kPerCall[calls_ % 5];
    for (size_t i = 0; i < count; ++i) {
      const uint64_t index = next_index_++;
      frames_[i] = Nv12Frame{std::vector<uint8_t>(kWidth * kHeight * 3 / 2, fill_of(index)), index,
                             kWidth, kHeight};
      pictures_[i] = picture_of(frames_[i]);
    }
    return std::span<const Picture>(pictures_, count);
  }
  uint32_t width() const override { return kWidth; }
  uint32_t height() const override { return kHeight; }

 private:
  void poison() {
    for (Nv12Frame& frame : frames_) {
      std::fill(frame.data.begin(), frame.data.end(), kPoison);
    }
  }

  uint64_t& next_index_;
  uint64_t calls_ = 0;
  Nv12Frame frames_[2];
  Picture pictures_[2];
};

TEST(PictureLifetime, TheWriterGetsEveryPictureOnceWholeAndInOrder) {
  uint64_t next_index = 0;  // pictures made, across decoders
  std::vector<uint64_t> written;
  uint64_t torn = 0;
  auto counters = std::make_shared<counters::Counters>();

  DecodeContext context;
  context.queue = std::make_shared<DecodeQueue>(8, 64 << 20);
  context.counters = counters;
  context.create_decoder = [&](uint32_t,
                               uint32_t) -> Result<std::unique_ptr<decoder::H264Decoder>> {
    return std::unique_ptr<decoder::H264Decoder>(std::make_unique<PoisoningDecoder>(next_index));
  };
  // A picture overwritten before it is written shows.
  context.write_frame = [&](const Picture& picture) {
    const uint8_t want = fill_of(picture.timestamp_us);
    bool whole = true;
    for (size_t i = 0; i < picture.nv12_size(); ++i) {
      whole = whole && picture.luma[i] == want;
    }
    torn += whole ? 0 : 1;
    written.push_back(picture.timestamp_us);
  };
  context.request_keyframe = [] {};
  context.print_line = [](std::string_view) {};
  DecodeLoop loop(std::move(context));

  for (uint64_t i = 0; i < 300; ++i) {
    if (i % 60 == 0) {
      loop.handle(Configure{kWidth, kHeight});  // ends the decoder before it
    }
    loop.handle(Frame{Payload::copy_of(std::vector<uint8_t>{0x65}), i, true});
  }

  EXPECT_EQ(torn, 0u);
  std::vector<uint64_t> expected(next_index);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(counters->frames_decoded, next_index);
  EXPECT_GT(counters->decode_errors, 0u);
}

}  // namespace
}  // namespace korvex::frames
