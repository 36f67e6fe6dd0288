#include "frames/picture_handoff.hpp"

#include "platform/thread.hpp"

namespace korvex::frames {

Result<std::unique_ptr<PictureHandoff>> PictureHandoff::start(Write write) {
  auto shared = std::make_shared<Shared>(std::move(write));
  auto spawned = platform::spawn_thread("publish", [shared] {
    std::unique_lock hold(shared->lock);
    for (;;) {
      shared->changed.wait(hold, [&] { return shared->pending || shared->stop; });
      if (!shared->pending) {
        break;
      }
      // The batch is the thread's until `pending` clears: the decode thread
      // only waits meanwhile.
      hold.unlock();
      for (const Picture& picture : shared->batch) {
        shared->write(picture);
      }
      hold.lock();
      shared->pending = false;
      shared->changed.notify_all();
    }
    shared->finished = true;
    shared->changed.notify_all();
  });
  if (!spawned) {
    return Error{spawned.error()};
  }
  return std::unique_ptr<PictureHandoff>(new PictureHandoff(std::move(shared)));
}

PictureHandoff::~PictureHandoff() {
  std::unique_lock hold(shared_->lock);
  shared_->stop = true;
  shared_->changed.notify_all();
  shared_->changed.wait(hold, [this] { return shared_->finished; });
}

void PictureHandoff::hand_over(std::span<const Picture> pictures) {
  std::unique_lock hold(shared_->lock);
  shared_->changed.wait(hold, [this] { return !shared_->pending; });
  if (pictures.empty()) {
    return;
  }
  shared_->batch.assign(pictures.begin(), pictures.end());
  shared_->pending = true;
  shared_->changed.notify_all();
}

void PictureHandoff::wait_written() {
  std::unique_lock hold(shared_->lock);
  shared_->changed.wait(hold, [this] { return !shared_->pending; });
}

}  // namespace korvex::frames
