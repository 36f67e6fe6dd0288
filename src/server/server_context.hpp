#pragma once

// Everything a connection needs to consume the phone's stream, shared by the
// accept thread and every connection thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "frames/decode_queue.hpp"
#include "jitter/jitter_buffer.hpp"
#include "server/phone_link.hpp"

namespace korvex {

// Tells the frame section whether a phone is active: true on every hello,
// false when the current connection ends.
using PhoneActiveSink = std::function<void(bool)>;

struct ServerContext {
  ServerContext(std::shared_ptr<PhoneLink> link, std::shared_ptr<DecodeQueue> queue,
                std::shared_ptr<JitterBuffer> jitter, PhoneActiveSink set_phone_active, float gain)
      : link(std::move(link)),
        queue(std::move(queue)),
        jitter(std::move(jitter)),
        set_phone_active(std::move(set_phone_active)),
        gain(gain) {}

  const std::shared_ptr<PhoneLink> link;
  const std::shared_ptr<DecodeQueue> queue;
  const std::shared_ptr<JitterBuffer> jitter;
  const PhoneActiveSink set_phone_active;
  std::atomic<uint64_t> next_connection_id{1};
  const float gain;  // applied to every audio sample
};

}  // namespace korvex
