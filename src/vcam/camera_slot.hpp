#pragma once

// Where the registered camera waits for the end of the run. The main thread
// fills it at startup and tends it once a second for the status line,
// registering the camera again when the system has lost it; the console
// event handler's thread or the main thread empties it on the way out, so a
// lock guards it.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "vcam/camera.hpp"

namespace korvex::vcam {

class CameraSlot {
 public:
  using Clock = std::chrono::steady_clock;
  using Registrar = std::function<Result<std::unique_ptr<Camera>>()>;

  // A lost camera is registered again no sooner than this after the last
  // attempt (or the first registration), so that a camera service that keeps
  // failing is not asked again and again.
  static constexpr Clock::duration kRegisterAgainAfter = std::chrono::seconds(5);

  // Holds `camera`, registered at `registered_at`, releasing (not shutting
  // down) any camera held before. `register_again` (may be empty: never)
  // makes its replacement once the system has lost it.
  void keep(std::unique_ptr<Camera> camera, Registrar register_again = {},
            Clock::time_point registered_at = Clock::now());

  struct Status {
    std::string_view state;           // for the status line
    std::optional<std::string> news;  // a line for standard error, when something changed
  };
  // The kept camera's state at `now`; a lost camera is shut down and
  // registered again first when kRegisterAgainAfter has passed. Nothing
  // once the slot is empty.
  std::optional<Status> tend(Clock::time_point now);

  // Takes the camera out, if there is one, then shuts it down and releases
  // it. Later calls find the slot empty and do nothing.
  void shutdown();

 private:
  std::mutex mutex_;  // guards everything below
  std::unique_ptr<Camera> camera_;
  Registrar register_again_;
  Clock::time_point last_attempt_{};
  bool replacing_ = false;    // the lost camera is removed, its replacement not yet made
  std::string last_failure_;  // of registering again, told once
};

}  // namespace korvex::vcam
