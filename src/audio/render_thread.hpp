#pragma once

// The output layer's render thread, owned by its stream: started by name,
// asked to stop and waited for when the stream goes.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/result.hpp"

namespace korvex::audio {

class RenderThread {
 public:
  // The body runs until it returns; it should return soon after `stop` is set.
  using Body = std::function<void(const std::atomic<bool>& stop)>;

  RenderThread() = default;
  RenderThread(const RenderThread&) = delete;
  RenderThread& operator=(const RenderThread&) = delete;
  ~RenderThread();

  Result<void> start(std::string name, Body body);

 private:
  struct Shared {
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable finished_changed;
    bool finished = false;  // guarded by lock
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace korvex::audio
