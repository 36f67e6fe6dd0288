#include "main/snapshot.hpp"

namespace korvex::main {

counters::CounterSnapshot take_snapshot(const counters::Counters& counters,
                                        const frames::DecodeQueue& queue) {
  constexpr auto relaxed = std::memory_order_relaxed;
  counters::CounterSnapshot s;
  s.connected = counters.connected.load(relaxed);
  s.frames_received = counters.frames_received.load(relaxed);
  s.frames_decoded = counters.frames_decoded.load(relaxed);
  s.bytes_received = counters.bytes_received.load(relaxed);
  const uint64_t frames_dropped = counters.frames_dropped.load(relaxed);
  s.decode_errors = counters.decode_errors.load(relaxed);
  s.audio_packets = counters.audio_packets.load(relaxed);
  s.rtt_us = counters.rtt_us.load(relaxed);
  s.width = counters.width.load(relaxed);
  s.height = counters.height.load(relaxed);
  s.dropped = frames_dropped + queue.evicted() + queue.orphaned();
  s.queue_length = queue.len();
  return s;
}

}  // namespace korvex::main
