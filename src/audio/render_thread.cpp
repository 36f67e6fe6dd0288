#include "audio/render_thread.hpp"

#include "platform/thread.hpp"

namespace korvex::audio {

Result<void> RenderThread::start(std::string name, Body body) {
  auto shared = std::make_shared<Shared>();
  auto started = platform::spawn_thread(std::move(name), [shared, body = std::move(body)] {
    body(shared->stop);
    std::lock_guard hold(shared->lock);
    shared->finished = true;
    shared->finished_changed.notify_all();
  });
  if (!started) {
    return started;
  }
  shared_ = std::move(shared);
  return {};
}

RenderThread::~RenderThread() {
  if (!shared_) {
    return;
  }
  shared_->stop = true;
  std::unique_lock hold(shared_->lock);
  shared_->finished_changed.wait(hold, [this] { return shared_->finished; });
}

}  // namespace korvex::audio
