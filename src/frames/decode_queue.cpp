#include "frames/decode_queue.hpp"

#include <algorithm>

namespace korvex::frames {

void DecodeQueue::push(DecodeItem item) {
  std::vector<uint8_t> dropped;  // freed after the lock is released
  {
    std::lock_guard lock(lock_);
    const bool is_frame = std::holds_alternative<Frame>(item);
    if (is_frame && frames_ >= frame_limit_ && frames_ > 0) {
      auto victim = std::find_if(entries_.begin(), entries_.end(), [](const DecodeItem& e) {
        const Frame* f = std::get_if<Frame>(&e);
        return f != nullptr && !f->keyframe;
      });
      if (victim == entries_.end()) {
        victim = std::find_if(entries_.begin(), entries_.end(),
                              [](const DecodeItem& e) { return std::holds_alternative<Frame>(e); });
      }
      dropped = std::move(std::get<Frame>(*victim).data);
      entries_.erase(victim);
      --frames_;
      evicted_.fetch_add(1, std::memory_order_relaxed);
    }
    entries_.push_back(std::move(item));
    if (is_frame) {
      ++frames_;
    }
  }
  wake_.notify_one();
}

DecodeItem DecodeQueue::pop() {
  std::unique_lock lock(lock_);
  wake_.wait(lock, [this] { return !entries_.empty(); });
  DecodeItem item = std::move(entries_.front());
  entries_.pop_front();
  if (std::holds_alternative<Frame>(item)) {
    --frames_;
  }
  return item;
}

size_t DecodeQueue::len() const {
  std::lock_guard lock(lock_);
  return entries_.size();
}

}  // namespace korvex::frames
