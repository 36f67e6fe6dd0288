#pragma once

// Coded video on its way from the connections to the one decode thread.
// Bounded in frames and in bytes and never blocking a producer: when it is
// full, the frame the picture can best do without (the oldest non-key frame)
// is thrown away, and with it every frame that refers to it, up to the next
// keyframe: decoded without their reference they would only be damaged
// pictures.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <variant>
#include <vector>

#include "common/payload.hpp"

namespace korvex::frames {

// A coded frame of this size or more is rare in a real stream and the most
// expensive on its way: the bytes themselves, and about as much again inside
// the decoder while it decodes them. Its connection receives nothing more
// until the decode thread is done with it (DecodeQueue::wait_below), and a
// failure to decode one ends the decoder.
inline constexpr size_t kLargeFrame = 1024 * 1024;

// A new stream begins with this picture size (0 = not given).
struct Configure {
  uint32_t width = 0;
  uint32_t height = 0;
};

// One H.264 access unit as the phone sent it; `pts` in microseconds.
struct Frame {
  Payload data;
  uint64_t pts = 0;
  bool keyframe = false;
};

// The queue threw away a frame that frames still to come refer to: the
// picture stays broken until the phone sends a keyframe.
struct RequestKeyframe {};

// What the connections push.
using DecodeItem = std::variant<Configure, Frame>;
// What the decode thread pops.
using DecodeWork = std::variant<Configure, Frame, RequestKeyframe>;

class DecodeQueue {
 public:
  DecodeQueue(uint64_t frame_limit, uint64_t byte_limit)
      : frame_limit_(frame_limit), byte_limit_(byte_limit) {}

  // Appends `item`. A Frame pushed while `frame_limit` frames wait, or whose
  // bytes would take the queued frames' past `byte_limit`, first evicts
  // queued frames, each with the frames behind it that refer to it, until it
  // fits or no frame waits: a frame larger than the limit still goes through
  // alone. While
  // that chain is broken, arriving non-key frames are thrown away too, until
  // a keyframe or a Configure starts a clean one. Configure items are never
  // thrown away and not counted against the limit; at most one waits: a
  // newer one gives its size to the one still queued.
  void push(DecodeItem item);

  // Removes and returns the front entry, waiting while the queue is empty. A
  // chain broken into frames still to come makes the next pop a
  // RequestKeyframe, ahead of the queued entries.
  DecodeWork pop();

  // Waits at most `timeout` until less than `bytes` of coded video waits in
  // the queue or is being decoded (the frame popped last, until the decode
  // thread comes back for the next). True once that is so.
  bool wait_below(uint64_t bytes, std::chrono::milliseconds timeout);

  // Entries of both kinds.
  size_t len() const;

  // Frames thrown away because the queue was full.
  uint64_t evicted() const { return evicted_.load(std::memory_order_relaxed); }
  // Frames thrown away because a frame they refer to was evicted.
  uint64_t orphaned() const { return orphaned_.load(std::memory_order_relaxed); }

 private:
  using Freed = std::vector<Payload>;

  // Removes one frame and the frames behind it up to the next keyframe or
  // Configure, moving their bytes to `freed`. True when that chain reaches
  // the back of the queue, so the next frame to arrive refers to it too.
  bool evict(Freed& freed);
  void orphan(Frame& frame, Freed& freed);

  const uint64_t frame_limit_;
  const uint64_t byte_limit_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable drained_;  // bytes_ or in_flight_ went down
  // Guarded by lock_:
  std::deque<DecodeItem> entries_;
  uint64_t frames_ = 0;           // Frame entries in entries_
  uint64_t bytes_ = 0;            // their coded bytes
  uint64_t in_flight_ = 0;        // the coded bytes of the frame popped last
  bool chain_broken_ = false;     // arriving non-key frames refer to a thrown-away one
  bool keyframe_wanted_ = false;  // the decode thread is to ask for a keyframe
  // Read by the status line without the lock:
  std::atomic<uint64_t> evicted_{0};
  std::atomic<uint64_t> orphaned_{0};
};

}  // namespace korvex::frames
