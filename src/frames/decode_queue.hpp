#pragma once

// Coded video on its way from the connections to the one decode thread.
// Bounded in frames and never blocking a producer: when it is full, the frame
// the picture can best do without (the oldest non-key frame) is thrown away.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <variant>
#include <vector>

namespace korvex::frames {

// A new stream begins with this picture size (0 = not given).
struct Configure {
  uint32_t width = 0;
  uint32_t height = 0;
};

// One H.264 access unit as the phone sent it; `pts` in microseconds.
struct Frame {
  std::vector<uint8_t> data;
  uint64_t pts = 0;
  bool keyframe = false;
};

using DecodeItem = std::variant<Configure, Frame>;

class DecodeQueue {
 public:
  explicit DecodeQueue(uint64_t frame_limit) : frame_limit_(frame_limit) {}

  // Appends `item`; a Frame pushed while `frame_limit` frames wait first
  // evicts one queued frame. Configure items are never evicted and not counted
  // against the limit.
  void push(DecodeItem item);

  // Removes and returns the front entry, waiting while the queue is empty.
  DecodeItem pop();

  // Entries of both kinds.
  size_t len() const;

  // Frames thrown away because the queue was full.
  uint64_t evicted() const { return evicted_.load(std::memory_order_relaxed); }

 private:
  const uint64_t frame_limit_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<DecodeItem> entries_;  // guarded by lock_
  uint64_t frames_ = 0;             // Frame entries in entries_, guarded by lock_
  std::atomic<uint64_t> evicted_{0};
};

}  // namespace korvex::frames
