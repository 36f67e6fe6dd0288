#include "server/phone_link.hpp"

#include <utility>

namespace korvex::server {

bool KeyframeThrottle::try_claim(Clock::time_point now) {
  std::lock_guard lock(lock_);
  if (last_request_ && now - *last_request_ < std::chrono::seconds(1)) {
    return false;
  }
  last_request_ = now;
  return true;
}

PhoneLink::PhoneLink()
    : counters_(std::make_shared<counters::Counters>()),
      clock_origin_(std::chrono::steady_clock::now()) {}

uint64_t PhoneLink::clock_us() const {
  const auto elapsed = std::chrono::steady_clock::now() - clock_origin_;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void PhoneLink::install_current(platform::Socket send_socket, AliveFlag alive, uint64_t id) {
  std::lock_guard lock(send_lock_);
  if (current_) {
    current_->alive->store(false);
    current_->send_socket.shutdown_both();
  }
  // Replacing the record closes the older connection's send handle.
  current_ = Connection{std::move(send_socket), std::move(alive), id};
  current_changed_.notify_all();
}

bool PhoneLink::send_to_connection(uint64_t id, std::span<const uint8_t> message) {
  std::lock_guard lock(send_lock_);
  if (!current_ || current_->id != id) {
    return false;
  }
  return current_->send_socket.send_all(message, kSendTimeoutMs).ok();
}

bool PhoneLink::send_to_current(std::span<const uint8_t> message) {
  std::lock_guard lock(send_lock_);
  if (!current_) {
    return false;
  }
  return current_->send_socket.send_all(message, kSendTimeoutMs).ok();
}

bool PhoneLink::release_current(uint64_t id) {
  std::lock_guard lock(send_lock_);
  if (!current_ || current_->id != id) {
    return false;
  }
  current_->send_socket.shutdown_both();
  current_.reset();
  current_changed_.notify_all();
  return true;
}

bool PhoneLink::stays_current(uint64_t id, std::chrono::milliseconds timeout) {
  std::unique_lock lock(send_lock_);
  return !current_changed_.wait_for(lock, timeout, [&] { return !current_ || current_->id != id; });
}

}  // namespace korvex::server
