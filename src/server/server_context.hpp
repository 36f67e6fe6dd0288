#pragma once

// Everything a connection needs to consume the phone's stream, shared by the
// accept thread and every connection thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "frames/decode_queue.hpp"
#include "jitter/jitter_buffer.hpp"
#include "section/frame_writer.hpp"
#include "server/connection_slots.hpp"
#include "server/phone_link.hpp"

namespace korvex::server {

struct ServerContext {
  ServerContext(std::shared_ptr<PhoneLink> link, std::shared_ptr<frames::DecodeQueue> queue,
                std::shared_ptr<jitter::JitterBuffer> jitter,
                std::shared_ptr<section::FrameWriter> frame_writer, float gain)
      : link(std::move(link)),
        queue(std::move(queue)),
        jitter(std::move(jitter)),
        frame_writer(std::move(frame_writer)),
        gain(gain) {}

  const std::shared_ptr<PhoneLink> link;
  const std::shared_ptr<frames::DecodeQueue> queue;
  const std::shared_ptr<jitter::JitterBuffer> jitter;
  // Its phone_active flag follows the current connection: set by every
  // hello, cleared when the current connection ends.
  const std::shared_ptr<section::FrameWriter> frame_writer;
  std::atomic<uint64_t> next_connection_id{1};
  // The current connection and two on their way out.
  const std::shared_ptr<ConnectionSlots> slots = std::make_shared<ConnectionSlots>(3);
  const float gain;  // applied to every audio sample
};

}  // namespace korvex::server
