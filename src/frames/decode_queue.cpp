#include "frames/decode_queue.hpp"

#include <algorithm>

namespace korvex::frames {
namespace {

bool is_keyframe(const DecodeItem& item) {
  const Frame* frame = std::get_if<Frame>(&item);
  return frame != nullptr && frame->keyframe;
}

}  // namespace

void DecodeQueue::push(DecodeItem item) {
  Freed freed;  // freed after the lock is released
  {
    std::lock_guard lock(lock_);
    if (Frame* frame = std::get_if<Frame>(&item)) {
      if (frame->keyframe) {
        chain_broken_ = false;
      }
      const uint64_t size = frame->data.size();
      while (!chain_broken_ && frames_ > 0 &&
             (frames_ >= frame_limit_ || bytes_ + size > byte_limit_)) {
        // A chain running to the back of the queue runs on into this frame,
        // unless it is a keyframe.
        chain_broken_ = evict(freed) && !frame->keyframe;
      }
      if (chain_broken_) {
        orphan(*frame, freed);
      } else {
        entries_.push_back(std::move(item));
        ++frames_;
        bytes_ += size;
      }
    } else {
      chain_broken_ = false;  // a new stream starts with its own keyframe
      // A Configure the decode thread has not reached yet takes the newer
      // size and keeps its place, where the stream first changed: a peer
      // sending hellos in a loop neither grows the queue nor has the decoder
      // recreated for each, and chains still end where they did.
      auto pending = std::find_if(entries_.begin(), entries_.end(), [](const DecodeItem& e) {
        return std::holds_alternative<Configure>(e);
      });
      if (pending != entries_.end()) {
        *pending = std::move(item);
      } else {
        entries_.push_back(std::move(item));
      }
    }
  }
  wake_.notify_one();
  if (!freed.empty()) {
    drained_.notify_all();
  }
}

void DecodeQueue::orphan(Frame& frame, Freed& freed) {
  freed.push_back(std::move(frame.data));
  orphaned_.fetch_add(1, std::memory_order_relaxed);
  // Asked again for every frame lost this way; the phone link sends at most
  // one request a second, so a request that went unanswered is repeated.
  keyframe_wanted_ = true;
}

bool DecodeQueue::evict(Freed& freed) {
  auto victim = std::find_if(entries_.begin(), entries_.end(), [](const DecodeItem& e) {
    return std::holds_alternative<Frame>(e) && !is_keyframe(e);
  });
  if (victim == entries_.end()) {
    victim = std::find_if(entries_.begin(), entries_.end(),
                          [](const DecodeItem& e) { return std::holds_alternative<Frame>(e); });
  }
  auto free_data = [this, &freed](DecodeItem& entry) {
    Payload& data = std::get<Frame>(entry).data;
    bytes_ -= data.size();
    freed.push_back(std::move(data));
  };
  free_data(*victim);
  evicted_.fetch_add(1, std::memory_order_relaxed);
  auto end = std::next(victim);
  while (end != entries_.end() && std::holds_alternative<Frame>(*end) && !is_keyframe(*end)) {
    free_data(*end);
    orphaned_.fetch_add(1, std::memory_order_relaxed);
    ++end;
  }
  frames_ -= static_cast<uint64_t>(end - victim);
  const bool reaches_back = end == entries_.end();
  entries_.erase(victim, end);
  return reaches_back;
}

DecodeWork DecodeQueue::pop() {
  std::unique_lock lock(lock_);
  // Coming back for more: the last frame is decoded.
  if (in_flight_ != 0) {
    in_flight_ = 0;
    drained_.notify_all();
  }
  wake_.wait(lock, [this] { return keyframe_wanted_ || !entries_.empty(); });
  if (keyframe_wanted_) {
    keyframe_wanted_ = false;
    return RequestKeyframe{};
  }
  DecodeWork work =
      std::visit([](auto& entry) -> DecodeWork { return std::move(entry); }, entries_.front());
  entries_.pop_front();
  if (const Frame* frame = std::get_if<Frame>(&work)) {
    --frames_;
    bytes_ -= frame->data.size();
    in_flight_ = frame->data.size();
  }
  return work;
}

bool DecodeQueue::wait_below(uint64_t bytes, std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return drained_.wait_for(lock, timeout, [&] { return bytes_ + in_flight_ < bytes; });
}

size_t DecodeQueue::len() const {
  std::lock_guard lock(lock_);
  return entries_.size();
}

}  // namespace korvex::frames
