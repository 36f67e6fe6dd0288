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
  if (!samples.empty()) {
    ending_ = false;  // a new stream follows straight on
  }
  // Only the newest capacity's worth of a push can stay in the ring.
  const size_t overflow = samples.size() > kCapacity ? samples.size() - kCapacity : 0;
  discarded_ += overflow;
  for (std::span<const float> rest = samples.subspan(overflow); !rest.empty();) {
    const size_t count = std::min<size_t>(rest.size(), kCapacity - write_);  // up to the ring's end
    std::copy_n(rest.begin(), count, ring_.begin() + static_cast<std::ptrdiff_t>(write_));
    write_ = (write_ + count) % kCapacity;
    queued_ += count;
    rest = rest.subspan(count);
  }
  if (queued_ > kCapacity) {
    // The oldest samples were overwritten.
    discarded_ += queued_ - kCapacity;
    queued_ = kCapacity;
    read_ = write_;
  }
  if (queued_ > ceiling_) {
    const uint64_t keep = std::min(trim_to_, queued_);
    read_ = (read_ + queued_ - keep) % kCapacity;
    discarded_ += queued_ - keep;
    queued_ = keep;
  }
}

Fill JitterBuffer::pop(std::span<float> out) {
  std::lock_guard lock(lock_);
  popped_ = true;
  const uint64_t before = queued_;
  if (!playing_) {
    // A zero prefill still waits for something to play, so that an idle
    // buffer is not counted as running dry; the end of a stream plays out
    // whatever is left.
    const bool ready = prefill_ == 0 || ending_ ? queued_ > 0 : queued_ >= prefill_;
    if (!ready) {
      std::fill(out.begin(), out.end(), 0.0f);
      return Fill{false, before};
    }
    playing_ = true;
  }
  const uint64_t taken = std::min<uint64_t>(out.size(), queued_);
  const uint64_t first = std::min(taken, kCapacity - read_);  // up to the end of the ring
  std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(read_), first, out.begin());
  std::copy_n(ring_.begin(), taken - first, out.begin() + static_cast<std::ptrdiff_t>(first));
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(taken), out.end(), 0.0f);
  read_ = (read_ + taken) % kCapacity;
  queued_ -= taken;
  if (taken < out.size()) {
    // Zeros in the middle of the phone's audio are a hole like an empty
    // block; waiting for the prefill again keeps the next one from following.
    playing_ = false;
    if (ending_) {
      ending_ = false;
    } else {
      ++underruns_;
    }
  }
  return Fill{true, before};
}

void JitterBuffer::end_stream() {
  std::lock_guard lock(lock_);
  underruns_ = 0;
  if (!popped_) {
    // Without an output the phone's last audio would stay queued for ever.
    discarded_ += queued_;
    read_ = write_;
    queued_ = 0;
  }
  ending_ = queued_ > 0;
  if (!ending_) {
    playing_ = false;
  }
}

double JitterBuffer::buffered_ms() const {
  std::lock_guard lock(lock_);
  return static_cast<double>(queued_) / static_cast<double>(kSampleRate) * 1000.0;
}

uint64_t JitterBuffer::underruns() const {
  std::lock_guard lock(lock_);
  return underruns_;
}

uint64_t JitterBuffer::discarded() const {
  std::lock_guard lock(lock_);
  return discarded_;
}

}  // namespace korvex::jitter
