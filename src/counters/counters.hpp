#pragma once

// Live figures of the receiver, written by the phone link and the decode
// thread as they work and read once a second by the status line. Every number
// is its own atomic; a snapshot is not consistent across fields, which is good
// enough for a status line.

#include <atomic>
#include <bit>
#include <cstdint>
#include <mutex>
#include <string>

namespace korvex::counters {

struct Counters {
  std::atomic<uint64_t> frames_received{0};
  std::atomic<uint64_t> frames_decoded{0};
  std::atomic<uint64_t> frames_dropped{0};
  std::atomic<uint64_t> decode_errors{0};
  std::atomic<uint64_t> bytes_received{0};
  std::atomic<uint64_t> rtt_us{0};
  std::atomic<uint64_t> audio_packets{0};
  std::atomic<uint32_t> width{0};
  std::atomic<uint32_t> height{0};
  std::atomic<bool> connected{false};

  // Peak of the last audio message, in [0, 1].
  void set_audio_level(float level) {
    audio_level_bits_.store(std::bit_cast<uint32_t>(level), std::memory_order_relaxed);
  }
  float audio_level() const {
    return std::bit_cast<float>(audio_level_bits_.load(std::memory_order_relaxed));
  }

  void set_phone_name(std::string name) {
    std::lock_guard lock(phone_name_lock_);
    phone_name_ = std::move(name);
  }
  std::string phone_name() const {
    std::lock_guard lock(phone_name_lock_);
    return phone_name_;
  }

 private:
  std::atomic<uint32_t> audio_level_bits_{0};
  mutable std::mutex phone_name_lock_;
  std::string phone_name_;  // guarded by phone_name_lock_
};

struct CounterSnapshot {
  uint64_t frames_received = 0;
  uint64_t frames_decoded = 0;
  uint64_t bytes_received = 0;
  uint64_t decode_errors = 0;
  uint64_t audio_packets = 0;
  uint64_t rtt_us = 0;
  uint64_t dropped = 0;  // by the link or decoder, plus those the decode queue threw away
  uint64_t queue_length = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  bool connected = false;
};

}  // namespace korvex::counters
