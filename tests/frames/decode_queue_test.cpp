#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "frames/decode_queue.hpp"

namespace korvex::frames {
namespace {

constexpr int64_t kConfigure = -1;
constexpr int64_t kRequest = -2;

Frame frame(uint64_t pts, bool keyframe) {
  return Frame{Payload::copy_of(std::vector<uint8_t>(16, static_cast<uint8_t>(pts))), pts,
               keyframe};
}

int64_t label(const DecodeWork& work) {
  if (const Frame* f = std::get_if<Frame>(&work)) {
    return static_cast<int64_t>(f->pts);
  }
  return std::holds_alternative<Configure>(work) ? kConfigure : kRequest;
}

// What the decode thread would pop until the queue is empty: the pts of each
// Frame, kConfigure and kRequest for the other kinds.
std::vector<int64_t> drain(DecodeQueue& queue) {
  std::vector<int64_t> out;
  while (queue.len() > 0) {
    out.push_back(label(queue.pop()));
  }
  return out;
}

// Pushes frames first..last; `keys` lists the keyframes among them.
void push_frames(DecodeQueue& queue, uint64_t first, uint64_t last,
                 std::initializer_list<uint64_t> keys = {}) {
  for (uint64_t i = first; i <= last; ++i) {
    queue.push(frame(i, std::find(keys.begin(), keys.end(), i) != keys.end()));
  }
}

TEST(DecodeQueue, KeepsOrderBelowTheLimit) {
  DecodeQueue queue(8, 64 << 20);
  queue.push(Configure{640, 480});
  push_frames(queue, 1, 8, {1});
  EXPECT_EQ(queue.len(), 9u);
  EXPECT_EQ(queue.evicted(), 0u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{kConfigure, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(DecodeQueue, EvictsTheOldestNonKeyFrameAndTheFramesThatReferToIt) {
  // Frame 2 goes, and frame 3, which refers to it; keyframe 4 starts a clean chain.
  DecodeQueue queue(8, 64 << 20);
  push_frames(queue, 1, 8, {1, 4});
  queue.push(frame(9, false));
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.orphaned(), 1u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{1, 4, 5, 6, 7, 8, 9}));

  // Keyframes in front survive; the first non-key frame behind them goes with
  // the rest of its chain, which the arriving keyframe ends.
  push_frames(queue, 1, 8, {1, 2});
  queue.push(frame(9, true));
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{1, 2, 9}));
  EXPECT_EQ(queue.evicted(), 2u);
  EXPECT_EQ(queue.orphaned(), 1u + 5u);

  // Seven non-key frames and then a keyframe: the chain ends at the keyframe.
  push_frames(queue, 1, 8, {8});
  queue.push(frame(9, false));
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{8, 9}));
  EXPECT_EQ(queue.evicted(), 3u);
  EXPECT_EQ(queue.orphaned(), 6u + 6u);
}

TEST(DecodeQueue, ABrokenChainDropsArrivingFramesAndAsksForAKeyframeUntilOneComes) {
  DecodeQueue queue(8, 64 << 20);
  push_frames(queue, 1, 8);
  queue.push(frame(9, false));  // 1 goes; 2..9 refer to it
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.orphaned(), 8u);
  EXPECT_EQ(queue.len(), 0u);
  EXPECT_EQ(label(queue.pop()), kRequest);  // at once, though the queue is empty

  push_frames(queue, 10, 11);
  EXPECT_EQ(queue.len(), 0u);
  EXPECT_EQ(queue.orphaned(), 10u);
  EXPECT_EQ(label(queue.pop()), kRequest);  // asked again: the first may go unanswered

  push_frames(queue, 12, 13, {12});
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{12, 13}));
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.orphaned(), 10u);

  // The request comes out ahead of frames already waiting.
  DecodeQueue small(2, 64 << 20);
  push_frames(small, 1, 3, {1});  // 2 goes, 3 refers to it
  EXPECT_EQ(drain(small), (std::vector<int64_t>{kRequest, 1}));
}

TEST(DecodeQueue, AConfigureEndsABrokenChainAndIsNeverEvictedNorCounted) {
  DecodeQueue queue(8, 64 << 20);
  push_frames(queue, 1, 8);
  queue.push(Configure{1920, 1080});
  EXPECT_EQ(queue.evicted(), 0u);
  EXPECT_EQ(queue.len(), 9u);
  queue.push(frame(9, false));  // 1 goes with 2..8; 9 follows the Configure
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.orphaned(), 7u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{kConfigure, 9}));

  // A chain broken into frames still to come ends at the next stream's start.
  push_frames(queue, 1, 9);
  EXPECT_EQ(label(queue.pop()), kRequest);
  queue.push(Configure{});
  push_frames(queue, 10, 11);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{kConfigure, 10, 11}));

  // A Configure at the front is skipped over by the eviction scan.
  queue.push(Configure{});
  push_frames(queue, 1, 9, {5});
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{kConfigure, 5, 6, 7, 8, 9}));
}

TEST(DecodeQueue, AtMostOneConfigureWaitsAndItCarriesTheNewestSize) {
  // A peer sending hellos in a loop: the queued Configure keeps its place
  // between the streams and takes each newer size.
  DecodeQueue queue(8, 64 << 20);
  push_frames(queue, 1, 2, {1});
  queue.push(Configure{640, 480});
  push_frames(queue, 3, 4, {3});
  for (uint32_t i = 1; i <= 1000; ++i) {
    queue.push(Configure{i, i + 1});
  }
  EXPECT_EQ(queue.len(), 5u);
  EXPECT_EQ(label(queue.pop()), 1);
  EXPECT_EQ(label(queue.pop()), 2);
  const DecodeWork configure = queue.pop();
  ASSERT_TRUE(std::holds_alternative<Configure>(configure));
  EXPECT_EQ(std::get<Configure>(configure).width, 1000u);
  EXPECT_EQ(std::get<Configure>(configure).height, 1001u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{3, 4}));

  // Once the decode thread has taken it, the next one waits on its own.
  queue.push(Configure{1280, 720});
  queue.push(Configure{1920, 1080});
  EXPECT_EQ(queue.len(), 1u);
  EXPECT_EQ(std::get<Configure>(queue.pop()).width, 1920u);
  EXPECT_EQ(queue.evicted() + queue.orphaned(), 0u);
}

TEST(DecodeQueue, AllKeyframesEvictsTheOldestFrame) {
  DecodeQueue queue(8, 64 << 20);
  push_frames(queue, 1, 8, {1, 2, 3, 4, 5, 6, 7, 8});
  queue.push(frame(9, false));  // refers to keyframe 8, which stays
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.orphaned(), 0u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{2, 3, 4, 5, 6, 7, 8, 9}));

  // Room for one frame: a non-key frame refers to the keyframe it evicts.
  DecodeQueue single(1, 64 << 20);
  single.push(frame(1, true));
  single.push(frame(2, false));
  EXPECT_EQ(single.evicted(), 1u);
  EXPECT_EQ(single.orphaned(), 1u);
  EXPECT_EQ(label(single.pop()), kRequest);
  EXPECT_EQ(single.len(), 0u);
}

TEST(DecodeQueue, TheByteLimitEvictsByTheSameRuleAndALargerFrameGoesAlone) {
  auto sized = [](uint64_t pts, bool keyframe, size_t bytes) {
    return Frame{Payload::copy_of(std::vector<uint8_t>(bytes)), pts, keyframe};
  };
  DecodeQueue queue(8, 1000);
  queue.push(sized(1, true, 400));
  queue.push(sized(2, false, 300));
  queue.push(sized(3, false, 200));
  queue.push(sized(4, true, 300));  // 1200 bytes: 2 goes, and 3, which refers to it
  EXPECT_EQ(queue.evicted(), 1u);
  EXPECT_EQ(queue.orphaned(), 1u);
  queue.push(sized(5, false, 300));  // exactly the limit
  EXPECT_EQ(queue.len(), 3u);
  queue.push(sized(6, true, 5000));  // every frame before it goes, and no keyframe is wanted
  EXPECT_EQ(queue.evicted(), 4u);
  EXPECT_EQ(queue.orphaned(), 1u);
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{6}));
  // Popped bytes leave the count: the whole limit is free again.
  queue.push(sized(7, false, 1000));
  EXPECT_EQ(drain(queue), (std::vector<int64_t>{7}));
  EXPECT_EQ(queue.evicted(), 4u);
}

TEST(DecodeQueue, FrameBytesMoveThroughWithoutCopy) {
  DecodeQueue queue(8, 64 << 20);
  Frame f = frame(1, true);
  const uint8_t* bytes = f.data.data();
  queue.push(std::move(f));
  DecodeWork work = queue.pop();
  EXPECT_EQ(std::get<Frame>(work).data.data(), bytes);
}

TEST(DecodeQueue, WaitBelowCountsTheFrameBeingDecodedUntilTheNextPop) {
  using std::chrono::milliseconds;
  DecodeQueue queue(8, 64 << 20);
  const uint64_t limit = 1 << 20;
  queue.push(Frame{Payload::copy_of(std::vector<uint8_t>(limit, 0)), 1, true});
  queue.push(frame(2, false));
  EXPECT_FALSE(queue.wait_below(limit, milliseconds(0)));
  EXPECT_EQ(label(queue.pop()), 1);  // now being decoded
  EXPECT_FALSE(queue.wait_below(limit, milliseconds(0)));

  // Back for the next frame: the large one is done, and a waiter wakes.
  auto waiter =
      std::async(std::launch::async, [&] { return queue.wait_below(limit, milliseconds(10'000)); });
  EXPECT_EQ(label(queue.pop()), 2);
  EXPECT_TRUE(waiter.get());

  // Evicting a large frame makes room as well.
  DecodeQueue small(1, 64 << 20);
  small.push(Frame{Payload::copy_of(std::vector<uint8_t>(limit, 0)), 1, true});
  EXPECT_FALSE(small.wait_below(limit, milliseconds(0)));
  small.push(frame(2, true));
  EXPECT_TRUE(small.wait_below(limit, milliseconds(0)));
}

TEST(DecodeQueue, PopWaitsForThePush) {
  DecodeQueue queue(8, 64 << 20);
  auto popped = std::async(std::launch::async, [&queue] { return queue.pop(); });
  EXPECT_EQ(popped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  queue.push(frame(42, true));
  ASSERT_EQ(popped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  DecodeWork work = popped.get();
  EXPECT_EQ(std::get<Frame>(work).pts, 42u);
  EXPECT_EQ(queue.len(), 0u);
}

TEST(DecodeQueue, ConcurrentProducersNeverExceedTheLimitAndEveryFrameIsCounted) {
  DecodeQueue queue(8, 64 << 20);
  std::atomic<bool> done{false};
  std::atomic<uint64_t> popped{0};
  std::thread consumer([&] {
    while (!done.load() || queue.len() > 0) {
      if (queue.len() > 0 && std::holds_alternative<Frame>(queue.pop())) {
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
  EXPECT_EQ(popped.load() + queue.evicted() + queue.orphaned(), 4000u);
}

}  // namespace
}  // namespace korvex::frames
