#pragma once

// The "publish" thread: writes the decode thread's pictures into the frame
// section while the decode thread decodes the next access unit, so that the
// copy of about 3 MB a picture no longer waits for decoding nor holds it up.
// One batch of pictures is out at a time: handing over the next waits until
// the last is written, so each picture goes out once, whole and in decode
// order, and a decoder's pictures are read for no longer than through its
// next decode call.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "common/picture.hpp"
#include "common/result.hpp"

namespace korvex::frames {

class PictureHandoff {
 public:
  using Write = std::function<void(const Picture&)>;

  // Starts the thread, which calls `write` for every picture handed over.
  // Fails with the system's reason when the thread cannot be created.
  static Result<std::unique_ptr<PictureHandoff>> start(Write write);

  PictureHandoff(const PictureHandoff&) = delete;
  PictureHandoff& operator=(const PictureHandoff&) = delete;
  // Writes what was handed over, then ends the thread and waits for it.
  ~PictureHandoff();

  // Waits until the batch handed over last is written, then hands over
  // `pictures` (none: it only waits), which must stay valid until the next
  // hand_over or wait_written returns.
  void hand_over(std::span<const Picture> pictures);

  // Waits until every picture handed over is written: before the pictures'
  // owner reuses or frees them outside the one-call rhythm.
  void wait_written();

 private:
  struct Shared {
    explicit Shared(Write w) : write(std::move(w)) {}
    const Write write;
    std::mutex lock;
    std::condition_variable changed;
    // Guarded by lock:
    std::vector<Picture> batch;  // read by the thread, without the lock, while pending
    bool pending = false;        // a batch is out
    bool stop = false;
    bool finished = false;
  };

  explicit PictureHandoff(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  std::shared_ptr<Shared> shared_;
};

}  // namespace korvex::frames
