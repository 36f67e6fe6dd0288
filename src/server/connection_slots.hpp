#pragma once

// How many connections are served at once. Every accepted connection takes
// over from the one before, so all but one are on their way out; a burst of
// connections would still start two threads each faster than the older ones
// end. The accept loop takes the next connection only while fewer than the
// limit hold a slot, and TCP keeps the rest waiting in the backlog.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace korvex::server {

// Made with std::make_shared: a held slot keeps its ConnectionSlots alive.
class ConnectionSlots : public std::enable_shared_from_this<ConnectionSlots> {
 public:
  explicit ConnectionSlots(size_t limit) : limit_(limit) {}

  // Blocks while `limit` slots are held.
  void wait_for_free();

  // A slot, held until the last copy of the returned pointer goes: each of a
  // connection's threads keeps one, so the slot is free once both have ended.
  std::shared_ptr<const void> hold();

  size_t held() const;

 private:
  void release();

  const size_t limit_;
  mutable std::mutex lock_;
  std::condition_variable freed_;
  size_t held_ = 0;  // guarded by lock_
};

}  // namespace korvex::server
