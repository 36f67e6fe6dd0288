#pragma once

// Where the registered camera waits for the end of the run. The main thread
// fills it at startup; the console event handler's thread or the main thread
// empties it on the way out, so a lock guards it.

#include <memory>
#include <mutex>

#include "vcam/camera.hpp"

namespace korvex::vcam {

class CameraSlot {
 public:
  // Holds `camera`, releasing (not shutting down) any camera held before.
  void keep(std::unique_ptr<Camera> camera);
  // Takes the camera out, if there is one, then shuts it down and releases
  // it. Later calls find the slot empty and do nothing.
  void shutdown();

 private:
  std::mutex mutex_;
  std::unique_ptr<Camera> camera_;  // guarded by mutex_
};

}  // namespace korvex::vcam
