#include "server/connection_slots.hpp"

#include <utility>

namespace korvex::server {

void ConnectionSlots::wait_for_free() {
  std::unique_lock hold(lock_);
  freed_.wait(hold, [this] { return held_ < limit_; });
}

std::shared_ptr<const void> ConnectionSlots::hold() {
  struct Slot {
    explicit Slot(std::shared_ptr<ConnectionSlots> owner) : owner(std::move(owner)) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() { owner->release(); }
    const std::shared_ptr<ConnectionSlots> owner;
  };
  {
    std::lock_guard hold(lock_);
    ++held_;
  }
  return std::make_shared<const Slot>(shared_from_this());
}

size_t ConnectionSlots::held() const {
  std::lock_guard hold(lock_);
  return held_;
}

void ConnectionSlots::release() {
  {
    std::lock_guard hold(lock_);
    --held_;
  }
  freed_.notify_all();
}

}  // namespace korvex::server
