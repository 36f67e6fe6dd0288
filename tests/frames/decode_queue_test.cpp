#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "frames/decode_queue.hpp"

namespace korvex::frames {
namespace {

Frame frame(uint64_t pts, bool keyframe) {
  return Frame{std::vector<uint8_t>(16, static_cast<uint8_t>(pts)), pts, keyframe};
}

// The pts of every queued Frame, front to back, with Configure items as -1.
std::vector<int64_t> drain(DecodeQueue& queue) {
  std::vector<int64_t> out;
  while (queue.len() > 0) {
    DecodeItem item = queue.pop();
    if (const Frame* f = std::get_if<Frame>(&item)) {
      out.push_back(static_cast<int64_t>(f->pts));
    } else {
      out.push_back(-1);
    }
  }
  return out;
}

TEST(DecodeQueue, KeepsOrderBelowTheLimit) {
  DecodeQueue queue(8);
  queue.push(Configure{640, 480});
  for (uint64_t i = 1; i <= 8; ++i) {
    queue.push(frame(i, i == 1));
  }
  EXPECT_EQ(queue.len(), 9u);
  EXPECT_EQ(queue.evicted(), 0u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{-1, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(DecodeQueue, EvictsTheOldestNonKeyFrame) {
  DecodeQueue queue(8);
  for (uint64_t i = 1; i <= 8; ++i) {
    queue.push(frame(i, false));
  }
  queue.push(frame(9, false));
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{2, 3, 4, 5, 6, 7, 8, 9}));

  // Keyframes in front survive; the first non-key frame behind them goes.
  queue.push(frame(1, true));
  queue.push(frame(2, true));
  for (uint64_t i = 3; i <= 8; ++i) {
    queue.push(frame(i, false));
  }
  queue.push(frame(9, true));
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{1, 2, 4, 5, 6, 7, 8, 9}));

  // Seven non-key frames and then a keyframe: a non-key frame goes.
  for (uint64_t i = 1; i <= 7; ++i) {
    queue.push(frame(i, false));
  }
  queue.push(frame(8, true));
  queue.push(frame(9, false));
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(queue.evicted(), 3u);
}

TEST(DecodeQueue, AllKeyframesEvictsTheOldestFrame) {
  DecodeQueue queue(8);
  for (uint64_t i = 1; i <= 8; ++i) {
    queue.push(frame(i, true));
  }
  queue.push(frame(9, false));
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(DecodeQueue, ConfigureIsNeverEvictedNorCounted) {
  DecodeQueue queue(8);
  for (uint64_t i = 1; i <= 8; ++i) {
    queue.push(frame(i, false));
  }
  queue.push(Configure{1920, 1080});
  EXPECT_EQ(queue.evicted(), 0u);
  EXPECT_EQ(queue.len(), 9u);
  queue.push(frame(9, false));
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.len(), 9u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{2, 3, 4, 5, 6, 7, 8, -1, 9}));

  // A Configure at the front is skipped over by the eviction scan.
  queue.push(Configure{});
  for (uint64_t i = 1; i <= 9; ++i) {
    queue.push(frame(i, false));
  }
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{-1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(DecodeQueue, FrameBytesMoveThroughWithoutCopy) {
  DecodeQueue queue(8);
  Frame f = frame(1, true);
  const uint8_t* bytes = f.data.data();
  queue.push(std::move(f));
  DecodeItem item = queue.pop();
  EXPECT_EQ(std::get<Frame>(item).data.data(), bytes);
}

TEST(DecodeQueue, PopWaitsForThePush) {
  DecodeQueue queue(8);
  auto popped = std::async(std::launch::async, [&queue] { return queue.pop(); });
  EXPECT_EQ(popped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  queue.push(frame(42, true));
  ASSERT_EQ(popped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  DecodeItem item = popped.get();
  EXPECT_EQ(std::get<Frame>(item).pts, 42u);
  EXPECT_EQ(queue.len(), 0u);
}

TEST(DecodeQueue, ConcurrentProducersNeverExceedTheLimit) {
  DecodeQueue queue(8);
  std::atomic<bool> done{false};
  std::atomic<uint64_t> popped{0};
  std::thread consumer([&] {
    while (!done.load() || queue.len() > 0) {
      if (queue.len() > 0) {
        queue.pop();
        ++popped;
      }
    }
  });
  auto produce = [&queue](uint64_t base) {
    for (uint64_t i = 0; i < 2000; ++i) {
      queue.push(frame(base + i, i % 30 == 0));
      EXPECT_LE(queue.len(), 8u);
    }
  };
  std::thread a(produce, 0), b(produce, 10000);
  a.join();
  b.join();
  done = true;
  consumer.join();
  EXPECT_EQ(popped.load() + queue.evicted(), 4000u);
}

}  // namespace
}  // namespace korvex::frames
