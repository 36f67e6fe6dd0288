#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "frames/decode_thread.hpp"

namespace korvex::frames {
namespace {

// A decoder that plays back scripted outcomes: one picture per access unit
// unless the unit's first byte is 0xEE, which fails.
class FakeDecoder : public decoder::H264Decoder {
 public:
  FakeDecoder(uint32_t width, uint32_t height, std::shared_ptr<int> alive = nullptr)
      : width_(width), height_(height), alive_(std::move(alive)) {
    if (alive_) {
      ++*alive_;
    }
  }
  ~FakeDecoder() override {
    if (alive_) {
      --*alive_;
    }
  }

  Result<std::span<const Picture>> decode(Payload data, uint64_t pts_us) override {
    if (!data.empty() && data.data()[0] == 0xEE) {
      return fail("ProcessInput: broken");
    }
    current_ ^= 1;  // the last call's picture may still be being written
    Nv12Frame& frame = frames_[current_];
    frame.width = width_;
    frame.height = height_;
    frame.timestamp_us = pts_us;
    frame.data.assign(size_t{width_} * height_ * 3 / 2, 128);
    views_[current_] = picture_of(frame);
    return std::span<const Picture>(&views_[current_], 1);
  }
  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }

 private:
  uint32_t width_;
  uint32_t height_;
  std::shared_ptr<int> alive_;  // how many fakes of one harness exist
  Nv12Frame frames_[2];
  Picture views_[2];
  int current_ = 0;
};

std::unique_ptr<DecodeLoop> start_loop(DecodeContext context) {
  return std::make_unique<DecodeLoop>(std::move(context));
}

struct Harness {
  std::vector<std::pair<uint32_t, uint32_t>> created;  // sizes asked for
  std::shared_ptr<int> alive = std::make_shared<int>(0);
  int most_alive_at_creation = 0;
  std::vector<uint64_t> written;  // timestamps written
  std::vector<std::string> lines;
  int keyframe_requests = 0;
  std::shared_ptr<counters::Counters> counters = std::make_shared<counters::Counters>();
  std::unique_ptr<DecodeLoop> loop;

  explicit Harness(std::optional<std::string> dump_dir = std::nullopt)
      : loop(start_loop(make_context(std::move(dump_dir)))) {}

  const std::vector<uint64_t>& written_so_far() const { return written; }

  DecodeContext make_context(std::optional<std::string> dump_dir) {
    DecodeContext context;
    context.queue = std::make_shared<DecodeQueue>(8, 64 << 20);
    context.counters = counters;
    context.dump_dir = std::move(dump_dir);
    context.create_decoder = [this](uint32_t w,
                                    uint32_t h) -> Result<std::unique_ptr<decoder::H264Decoder>> {
      created.emplace_back(w, h);
      most_alive_at_creation = std::max(most_alive_at_creation, *alive);
      return std::unique_ptr<decoder::H264Decoder>(
          std::make_unique<FakeDecoder>(w != 0 ? w : 1280, h != 0 ? h : 720, alive));
    };
    context.write_frame = [this](const Picture& f) { written.push_back(f.timestamp_us); };
    context.request_keyframe = [this] { ++keyframe_requests; };
    context.print_line = [this](std::string_view line) { lines.emplace_back(line); };
    return context;
  }

  void frame(uint64_t pts, bool keyframe, bool broken = false) {
    loop->handle(
        Frame{Payload::copy_of(std::vector<uint8_t>{broken ? uint8_t{0xEE} : uint8_t{0x65}}), pts,
              keyframe});
  }
};

TEST(DecodeThread, StartsOnceADecoderHasBeenMadeAndDroppedThenWaitsForTheStream) {
  // Shared with the thread, which outlives the test.
  struct Seen {
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint32_t>> created;
    std::vector<std::string> lines;
  };
  auto seen = std::make_shared<Seen>();
  auto counters = std::make_shared<counters::Counters>();
  auto queue = std::make_shared<DecodeQueue>(8, 64 << 20);
  DecodeContext context;
  context.queue = queue;
  context.counters = counters;
  context.create_decoder = [seen](uint32_t w,
                                  uint32_t h) -> Result<std::unique_ptr<decoder::H264Decoder>> {
    std::lock_guard hold(seen->lock);
    seen->created.emplace_back(w, h);
    return std::unique_ptr<decoder::H264Decoder>(std::make_unique<FakeDecoder>(1280, 720));
  };
  context.write_frame = [](const Picture&) {};
  context.request_keyframe = [] {};
  context.print_line = [seen](std::string_view line) {
    std::lock_guard hold(seen->lock);
    seen->lines.emplace_back(line);
  };
  ASSERT_TRUE(start_decode_thread(std::move(context)));
  {
    std::lock_guard hold(seen->lock);
    EXPECT_EQ(seen->created, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}}));
    EXPECT_TRUE(seen->lines.empty());  // quietly: the stream's own creation reports
  }

  // The loop starts without a decoder: a non-key frame is dropped, not decoded.
  queue->push(Frame{Payload::copy_of(std::vector<uint8_t>{0x41}), 1, false});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (counters->frames_dropped == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(counters->frames_dropped, 1u);
  EXPECT_EQ(counters->frames_decoded, 0u);
  std::lock_guard hold(seen->lock);
  EXPECT_EQ(seen->created.size(), 1u);
}

TEST(DecodeLoop, DropsFramesUntilAKeyframeCreatesA720pDecoder) {
  Harness h;
  h.frame(1, false);
  EXPECT_FALSE(h.loop->has_decoder());
  EXPECT_TRUE(h.created.empty());
  EXPECT_EQ(h.counters->frames_dropped, 1u);

  h.frame(2, true);
  EXPECT_EQ(h.created, (std::vector<std::pair<uint32_t, uint32_t>>{{1280, 720}}));
  EXPECT_EQ(h.lines, std::vector<std::string>{"H.264 decoder ready for 1280x720"});
  EXPECT_EQ(h.written_so_far(), std::vector<uint64_t>{2});
  EXPECT_EQ(h.counters->frames_decoded, 1u);
  EXPECT_EQ(h.counters->width, 1280u);
  EXPECT_EQ(h.counters->height, 720u);
}

TEST(DecodeLoop, ConfigureCreatesForTheAnnouncedSize) {
  Harness h;
  h.loop->handle(Configure{0, 0});
  h.loop->handle(Configure{1920, 1080});
  EXPECT_EQ(h.created, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {1920, 1080}}));
  EXPECT_EQ(h.lines, (std::vector<std::string>{"H.264 decoder ready for 1280x720",
                                               "H.264 decoder ready for 1920x1080"}));
  h.frame(1, false);  // a decoder exists: non-key frames decode
  EXPECT_EQ(h.counters->width, 1920u);
  EXPECT_EQ(h.most_alive_at_creation, 0);  // the old one went first
}

TEST(DecodeLoop, FailedCreationIsReportedAndRetriedAtTheNextKeyframe) {
  Harness h;
  int attempts = 0;
  DecodeContext context = h.make_context(std::nullopt);
  context.create_decoder = [&](uint32_t,
                               uint32_t) -> Result<std::unique_ptr<decoder::H264Decoder>> {
    ++attempts;
    return fail("CoCreateInstance(CMSH264DecoderMFT): Class not registered (0x80040154)");
  };
  auto loop = start_loop(std::move(context));
  loop->handle(Configure{1280, 720});
  loop->handle(Frame{Payload::copy_of(std::vector<uint8_t>{0x41}), 1, false});
  loop->handle(Frame{Payload::copy_of(std::vector<uint8_t>{0x65}), 2, true});
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(h.counters->frames_dropped, 2u);
  ASSERT_EQ(h.lines.size(), 2u);
  EXPECT_EQ(
      h.lines[0],
      "H.264 decoder: CoCreateInstance(CMSH264DecoderMFT): Class not registered (0x80040154)");
}

TEST(DecodeLoop, FiveFailuresInARowRecreateTheDecoderFourDoNot) {
  Harness h;
  h.loop->handle(Configure{640, 360});
  for (int i = 0; i < 4; ++i) {
    h.frame(10 + i, false, true);
  }
  h.frame(20, false);  // a success resets the run
  EXPECT_EQ(h.created.size(), 1u);
  EXPECT_EQ(h.counters->decode_errors, 4u);
  EXPECT_EQ(h.keyframe_requests, 4);
  EXPECT_EQ(h.lines.back(), "decode: ProcessInput: broken");

  for (int i = 0; i < 5; ++i) {
    h.frame(30 + i, false, true);
  }
  EXPECT_EQ(h.created, (std::vector<std::pair<uint32_t, uint32_t>>{{640, 360}, {640, 360}}));
  EXPECT_EQ(h.counters->decode_errors, 9u);
  EXPECT_EQ(h.keyframe_requests, 9);
  EXPECT_EQ(h.lines.back(), "H.264 decoder ready for 640x360");
  EXPECT_EQ(h.most_alive_at_creation, 0);

  // The count starts again after the recreation.
  for (int i = 0; i < 4; ++i) {
    h.frame(40 + i, false, true);
  }
  EXPECT_EQ(h.created.size(), 2u);
}

TEST(DecodeLoop, AFailedUnitOfAMebibyteEndsTheDecoderUntilTheNextKeyframe) {
  Harness h;
  h.loop->handle(Configure{640, 360});
  h.loop->handle(Frame{Payload::copy_of(std::vector<uint8_t>(1024 * 1024 - 1, 0xEE)), 1, true});
  EXPECT_TRUE(h.loop->has_decoder());
  h.loop->handle(Frame{Payload::copy_of(std::vector<uint8_t>(1024 * 1024, 0xEE)), 2, true});
  EXPECT_FALSE(h.loop->has_decoder());
  EXPECT_EQ(h.counters->decode_errors, 2u);
  EXPECT_EQ(h.keyframe_requests, 2);

  h.frame(3, false);  // dropped: nothing to decode it with
  EXPECT_EQ(h.counters->frames_dropped, 1u);
  h.frame(4, true);
  EXPECT_EQ(h.created, (std::vector<std::pair<uint32_t, uint32_t>>{{640, 360}, {640, 360}}));
  EXPECT_EQ(h.written_so_far(), std::vector<uint64_t>{4});
}

TEST(DecodeLoop, AKeyframeRequestFromTheQueueAsksThePhoneAndNothingElse) {
  Harness h;
  h.loop->handle(RequestKeyframe{});
  EXPECT_EQ(h.keyframe_requests, 1);
  EXPECT_TRUE(h.created.empty());
  EXPECT_TRUE(h.lines.empty());
  EXPECT_EQ(h.counters->frames_dropped, 0u);
}

TEST(DecodeLoop, DumpsFrames1And30And60AnnouncingTheFirstThree) {
  const auto dir =
      std::filesystem::temp_directory_path() /
      ("korvex-decode-dump-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(dir);
  Harness h(dir.string());
  h.loop->handle(Configure{64, 32});
  for (uint64_t pts = 1; pts <= 95; ++pts) {
    h.frame(pts, pts == 1);
  }
  std::vector<std::string> dumped;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    dumped.push_back(entry.path().filename().string());
  }
  std::sort(dumped.begin(), dumped.end());
  EXPECT_EQ(dumped, (std::vector<std::string>{"frame-1.png", "frame-30.png", "frame-60.png",
                                              "frame-90.png"}));
  const std::string sep(1, static_cast<char>(std::filesystem::path::preferred_separator));
  EXPECT_EQ(h.lines, (std::vector<std::string>{"H.264 decoder ready for 64x32",
                                               "wrote " + dir.string() + sep + "frame-1.png",
                                               "wrote " + dir.string() + sep + "frame-30.png",
                                               "wrote " + dir.string() + sep + "frame-60.png"}));
  EXPECT_EQ(h.written_so_far().size(), 95u);
  std::filesystem::remove_all(dir);
}

TEST(DecodeLoop, EveryDumpFailureIsPrinted) {
  const auto file = std::filesystem::temp_directory_path() / "korvex-decode-dump-blocker";
  { std::ofstream(file) << "x"; }
  Harness h((file / "below").string());
  h.loop->handle(Configure{64, 32});
  for (uint64_t pts = 1; pts <= 30; ++pts) {
    h.frame(pts, false);
  }
  ASSERT_EQ(h.lines.size(), 3u);
  EXPECT_EQ(h.lines[1].rfind("dump: " + (file / "below").string(), 0), 0u) << h.lines[1];
  EXPECT_EQ(h.lines[2].rfind("dump: ", 0), 0u);
  EXPECT_EQ(h.written_so_far().size(), 30u);  // decoding went on
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace korvex::frames
