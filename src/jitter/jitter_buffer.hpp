#pragma once

// Decouples the phone's bursty audio from the output's steady demand: a fixed
// ring of mono 48 kHz float samples with a prefill threshold (playback starts
// once enough is queued), an underrun rule (playback stops and waits for the
// prefill again when a block cannot be filled) and a ceiling (when too much
// piles up, the oldest audio is dropped so that latency stays bounded). Every
// sample dropped is counted.

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace korvex::jitter {

// What a pop found before taking its block.
struct Fill {
  bool playing = false;  // the block came from queued audio, not from waiting for the prefill
  uint64_t queued = 0;   // samples queued before the block was taken
};

class JitterBuffer {
 public:
  // With a prefill of zero samples, playback starts as soon as anything is
  // queued, and the ceiling is kZeroPrefillCeiling with trims back to the
  // newest 480 samples (one 10 ms render block): the lowest latency that still plays.
  static constexpr uint64_t kZeroPrefillCeiling = 1440;  // 30 ms

  // `prefill_ms` is the validated --prefill-ms value, in [0, 1000).
  explicit JitterBuffer(double prefill_ms);

  // Queues every sample; the oldest audio goes when the ceiling is passed.
  void push(std::span<const float> samples);

  // Fills every element of `out`: queued samples while playing, zeros while
  // filling. A block that finds fewer samples than it needs plays them,
  // then zeros, counts an underrun and waits for the prefill again.
  Fill pop(std::span<float> out);

  // The phone's stream has ended: what is queued still plays out, without
  // waiting for the prefill and without counting the end as an underrun;
  // then the buffer waits for the next phone's prefill. The underrun count
  // starts over. A buffer nothing has ever popped from has no output to play
  // into: what it holds is dropped (and counted) instead.
  void end_stream();

  double buffered_ms() const;
  uint64_t underruns() const;
  // Samples dropped since construction: trimmed above the ceiling, or
  // overwritten by a push larger than the ring.
  uint64_t discarded() const;

  uint64_t prefill() const { return prefill_; }
  uint64_t ceiling() const { return ceiling_; }
  // The fill level playback starts from and a trim goes back to.
  uint64_t target() const { return trim_to_; }

 private:
  const uint64_t prefill_;
  const uint64_t ceiling_;
  const uint64_t trim_to_;  // what a trim above the ceiling keeps

  mutable std::mutex lock_;
  // All below guarded by lock_.
  std::vector<float> ring_;
  uint64_t read_ = 0;
  uint64_t write_ = 0;
  uint64_t queued_ = 0;
  uint64_t underruns_ = 0;
  uint64_t discarded_ = 0;
  bool playing_ = false;
  bool ending_ = false;  // the stream ended; what is queued plays out
  bool popped_ = false;  // an output has taken blocks from the buffer
};

}  // namespace korvex::jitter
