#include "jitter/jitter_buffer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvex::jitter {
namespace {

constexpr uint64_t kSampleRate = 48000;
constexpr uint64_t kCapacity = 48000;       // one second
constexpr uint64_t kZeroPrefillKeep = 480;  // one 10 ms render block

uint64_t samples_for_ms(double ms) {
  const double samples = ms * static_cast<double>(kSampleRate) / 1000.0;
  if (!(samples > 0.0)) {  // negative or NaN
    return 0;
  }
  if (samples >= 18446744073709551616.0) {  // 2^64
    return std::numeric_limits<uint64_t>::max();
  }
  return static_cast<uint64_t>(samples);
}

}  // namespace

JitterBuffer::JitterBuffer(double prefill_ms)
    : prefill_(samples_for_ms(prefill_ms)),
      ceiling_(prefill_ == 0              ? kZeroPrefillCeiling
               : prefill_ > kCapacity / 3 ? kCapacity
                                          : 3 * prefill_),
      trim_to_(prefill_ == 0 ? kZeroPrefillKeep : prefill_),
      ring_(kCapacity, 0.0f) {}

void JitterBuffer::push(std::span<const float> samples) {
  std::lock_guard lock(lock_);
  for (float sample : samples) {
    ring_[write_] = sample;
    write_ = (write_ + 1) % kCapacity;
    if (queued_ == kCapacity) {
      read_ = (read_ + 1) % kCapacity;  // the oldest sample was just overwritten
    } else {
      ++queued_;
    }
  }
  if (queued_ > ceiling_) {
    const uint64_t keep = std::min(trim_to_, queued_);
    read_ = (read_ + queued_ - keep) % kCapacity;
    queued_ = keep;
  }
}

void JitterBuffer::pop(std::span<float> out) {
  std::lock_guard lock(lock_);
  if (!playing_) {
    // A zero prefill still waits for something to play, so that an idle
    // buffer is not counted as running dry.
    const bool ready = prefill_ == 0 ? queued_ > 0 : queued_ >= prefill_;
    if (!ready) {
      std::fill(out.begin(), out.end(), 0.0f);
      return;
    }
    playing_ = true;
  }
  if (out.empty()) {
    return;
  }
  if (queued_ == 0) {
    std::fill(out.begin(), out.end(), 0.0f);
    ++underruns_;
    playing_ = false;
    return;
  }
  size_t i = 0;
  while (i < out.size() && queued_ > 0) {
    out[i++] = ring_[read_];
    read_ = (read_ + 1) % kCapacity;
    --queued_;
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(i), out.end(), 0.0f);
}

void JitterBuffer::reset() {
  std::lock_guard lock(lock_);
  read_ = 0;
  write_ = 0;
  queued_ = 0;
  underruns_ = 0;
  playing_ = false;
}

double JitterBuffer::buffered_ms() const {
  std::lock_guard lock(lock_);
  return static_cast<double>(queued_) / static_cast<double>(kSampleRate) * 1000.0;
}

uint64_t JitterBuffer::underruns() const {
  std::lock_guard lock(lock_);
  return underruns_;
}

}  // namespace korvex::jitter
