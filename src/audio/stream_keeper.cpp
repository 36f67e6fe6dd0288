#include "audio/stream_keeper.hpp"

#include <mutex>
#include <vector>

#include <fmt/format.h>

#include "platform/thread.hpp"

namespace korvex::audio {

namespace {

// The keepers that exist, so that stop_all can reach them from the console
// event's thread. Its lock is taken before a keeper's, never after.
struct Registry {
  std::mutex lock;
  std::vector<StreamKeeper*> live;  // guarded by lock
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

StreamKeeper::StreamKeeper(Reopen reopen, OnError on_error, OnBack on_back,
                           std::chrono::milliseconds retry)
    : shared_(std::make_shared<Shared>()) {
  shared_->reopen = std::move(reopen);
  shared_->on_error = std::move(on_error);
  shared_->on_back = std::move(on_back);
  shared_->retry = retry;
  std::lock_guard hold(registry().lock);
  registry().live.push_back(this);
}

StreamKeeper::~StreamKeeper() {
  {
    std::lock_guard hold(registry().lock);
    std::erase(registry().live, this);
  }
  stop();
}

void StreamKeeper::stop() {
  std::unique_lock hold(shared_->lock);
  shared_->stop = true;
  shared_->changed.notify_all();
  shared_->changed.wait(hold, [this] { return !shared_->running; });
  auto stream = std::move(shared_->stream);
  hold.unlock();  // the stream's render thread may be reporting a failure
  stream.reset();
}

void StreamKeeper::stop_all() {
  std::lock_guard hold(registry().lock);
  for (StreamKeeper* keeper : registry().live) {
    keeper->stop();
  }
}

ErrorCallback StreamKeeper::error_callback() const {
  return report_to(shared_);
}

ErrorCallback StreamKeeper::report_to(const std::shared_ptr<Shared>& shared) {
  // Weak: streams are owned through `shared` and must not keep it alive.
  return [weak = std::weak_ptr<Shared>(shared)](const std::string& error) {
    const auto shared = weak.lock();
    if (!shared) {
      return;
    }
    shared->on_error(error);
    std::lock_guard hold(shared->lock);
    shared->failed = true;
    shared->changed.notify_all();
  };
}

Result<void> StreamKeeper::keep(std::unique_ptr<OutputStream> stream) {
  {
    std::unique_lock hold(shared_->lock);
    if (shared_->stop) {  // stopped while the stream was opening
      hold.unlock();
      stream.reset();
      return {};
    }
    shared_->stream = std::move(stream);
    shared_->running = true;
  }
  auto spawned = platform::spawn_thread("audio-keeper", [shared = shared_] { run(shared); });
  if (!spawned) {
    std::lock_guard hold(shared_->lock);
    shared_->running = false;
    return fail(fmt::format("spawn audio-keeper thread: {}", spawned.error()));
  }
  return {};
}

void StreamKeeper::run(const std::shared_ptr<Shared>& shared) {
  std::unique_lock hold(shared->lock);
  for (;;) {
    shared->changed.wait(hold, [&] { return shared->stop || shared->failed; });
    if (shared->stop) {
      break;
    }
    // Its render thread has ended; letting go of the stream frees the endpoint.
    auto failed = std::move(shared->stream);
    hold.unlock();
    failed.reset();
    hold.lock();
    while (!shared->stream) {
      if (shared->changed.wait_for(hold, shared->retry, [&] { return shared->stop; })) {
        break;
      }
      shared->failed = false;  // before the attempt: the new stream may fail at once
      hold.unlock();
      auto opened = shared->reopen(report_to(shared));
      if (opened) {
        shared->on_back(opened.value());
      }
      hold.lock();
      if (opened) {
        shared->stream = std::move(opened->stream);
      }
    }
    if (shared->stop) {
      break;
    }
  }
  shared->running = false;
  shared->changed.notify_all();
}

bool StreamKeeper::playing() const {
  std::lock_guard hold(shared_->lock);
  return shared_->stream && !shared_->failed;
}

}  // namespace korvex::audio
