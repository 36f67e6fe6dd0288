#include "watch_summary.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace korvex::tools {
namespace {

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double p) {
  const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  return sorted[std::max<size_t>(rank, 1) - 1];
}

}  // namespace

void WatchSummary::add_frame(uint32_t width, uint32_t height, const std::optional<Stamp>& stamp,
                             uint64_t seen_us) {
  ++frames_;
  const std::string size = fmt::format("{}x{}", width, height);
  if (std::find(sizes_.begin(), sizes_.end(), size) == sizes_.end()) {
    sizes_.push_back(size);
  }
  if (!stamp) {
    ++unreadable_;
    return;
  }
  if (last_index_ && stamp->index > *last_index_ + 1) {
    ++gaps_;
  } else if (last_index_ && stamp->index < *last_index_) {
    ++backwards_;
  }
  last_index_ = stamp->index;
  latencies_ms_.push_back(
      (static_cast<double>(seen_us) - static_cast<double>(stamp->send_time_us)) / 1000.0);
}

void WatchSummary::observe_activity(uint64_t activity_tick, uint64_t now_tick) {
  const bool stale = now_tick >= activity_tick && now_tick - activity_tick > kPlaceholderAfterMs;
  if (stale && !placeholder_) {
    ++placeholder_times_;
    placeholder_since_ = now_tick;
  } else if (!stale && placeholder_) {
    placeholder_ms_ += now_tick - placeholder_since_;
  }
  placeholder_ = stale;
}

void WatchSummary::finish(uint64_t now_tick) {
  if (placeholder_) {
    placeholder_ms_ += now_tick - placeholder_since_;
    placeholder_ = false;
  }
}

std::string WatchSummary::report() const {
  std::string sizes;
  for (const std::string& size : sizes_) {
    sizes += (sizes.empty() ? "" : ",") + size;
  }
  std::string p50 = "-";
  std::string p99 = "-";
  std::string max = "-";
  if (!latencies_ms_.empty()) {
    std::vector<double> sorted = latencies_ms_;
    std::sort(sorted.begin(), sorted.end());
    p50 = fmt::format("{:.1f}", percentile(sorted, 0.50));
    p99 = fmt::format("{:.1f}", percentile(sorted, 0.99));
    max = fmt::format("{:.1f}", sorted.back());
  }
  std::string out;
  out += fmt::format("frames seen: {}\n", frames_);
  out += fmt::format("torn copies retried: {}\n", torn_);
  if (malformed_ > 0) {
    out += fmt::format("malformed slots skipped: {}\n", malformed_);
  }
  out += fmt::format("sizes seen: {}\n", sizes.empty() ? "none" : sizes);
  out += fmt::format("unreadable stamps: {}\n", unreadable_);
  out += fmt::format("stamp gaps: {}\n", gaps_);
  out += fmt::format("stamps going backwards: {}\n", backwards_);
  out += fmt::format("latency from send to seen: p50 {} ms, p99 {} ms, max {} ms\n", p50, p99, max);
  out += fmt::format("placeholder (no sign of life for {} ms): shown {} times, {} ms in all\n",
                     kPlaceholderAfterMs, placeholder_times_, placeholder_ms_);
  out += fmt::format(
      "frames={} torn={} unreadable={} gaps={} size={} latency_ms_p50={} latency_ms_p99={} "
      "latency_ms_max={} backwards={}\n",
      frames_, torn_, unreadable_, gaps_, sizes.empty() ? "-" : sizes, p50, p99, max, backwards_);
  return out;
}

}  // namespace korvex::tools
