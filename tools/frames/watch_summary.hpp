#pragma once

// What `korvex-frames --watch` saw: the frames it copied, how often the writer
// got in the way, what the simulator's stamps say about order (skipped
// forward, gone backwards) and delay, and when a media source would have
// shown its placeholder.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame_stamp.hpp"

namespace korvex::tools {

// A media source shows its placeholder after this long without a sign of life.
inline constexpr uint64_t kPlaceholderAfterMs = 2000;

class WatchSummary {
 public:
  // One frame copied whole. `stamp` is empty when the picture carries none
  // that reads back; `seen_us` is the wall clock when the copy was taken.
  void add_frame(uint32_t width, uint32_t height, const std::optional<Stamp>& stamp,
                 uint64_t seen_us);
  void add_torn() { ++torn_; }
  void add_malformed() { ++malformed_; }

  // One look at the section's activity_tick against the reader's own tick,
  // both in ms since boot.
  void observe_activity(uint64_t activity_tick, uint64_t now_tick);
  // Closes a placeholder period still open at the end of the watch.
  void finish(uint64_t now_tick);

  // Lines for people, then one line of key=value pairs.
  std::string report() const;

 private:
  uint64_t frames_ = 0;
  uint64_t torn_ = 0;
  uint64_t malformed_ = 0;
  uint64_t unreadable_ = 0;
  uint64_t gaps_ = 0;       // stamps that skipped forward
  uint64_t backwards_ = 0;  // stamps older than the one before
  std::optional<uint32_t> last_index_;
  std::vector<std::string> sizes_;  // distinct, in the order first seen
  std::vector<double> latencies_ms_;

  bool placeholder_ = false;
  uint64_t placeholder_since_ = 0;
  uint64_t placeholder_times_ = 0;
  uint64_t placeholder_ms_ = 0;
};

}  // namespace korvex::tools
