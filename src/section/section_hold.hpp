#pragma once

// A camera's hold on the frame section. A camera opens the section, or
// creates it all zero when it is missing, as soon as the camera's source is
// created, and keeps it until that source shuts down: a receiver that may
// not create the section itself (a standard user's, on Windows) then finds
// it the moment an application opens the camera, and the first pictures the
// application asks for already come from the phone. Readers of the
// section take views of the held mapping; a failed open is tried again,
// silently, whenever a reader next asks for a view.

#include <functional>
#include <memory>
#include <mutex>

#include "common/result.hpp"
#include "section/section_mapping.hpp"

namespace korvex::section {

class SectionHold {
 public:
  using Opener = std::function<Result<MappedSection>()>;

  // Opens at once, keeping nothing when that fails.
  explicit SectionHold(Opener open);

  // The system's section, opened as a camera opens it
  // (open_frame_section_for_camera).
  static std::shared_ptr<SectionHold> for_camera();

  // The held mapping, opened first when it is missing. A view keeps the
  // mapping alive for as long as it lives, so a reader may outlast the
  // hold. Callers pace their own retries.
  Result<MappedSection> view();

 private:
  Opener open_;
  std::mutex mutex_;
  std::shared_ptr<uint8_t> mapping_;  // guarded by mutex_; empty while missing
};

}  // namespace korvex::section
