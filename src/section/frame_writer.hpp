#pragma once

// The receiver's side of the frame section: maps it from the "shm" thread,
// keeps its activity_tick fresh while a phone is active, and publishes the
// decode thread's pictures into it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/nv12_frame.hpp"
#include "common/picture.hpp"
#include "common/result.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"

namespace korvex::section {

class FrameWriter {
 public:
  // Creates the writer and starts its "shm" thread, which maps the section
  // (first attempt after 500 ms, then every 500 ms until it succeeds) and then
  // beats the heartbeat. Failed attempts are silent but for one line on
  // standard error the first time the section cannot be created for lack of
  // rights. Fails only when the thread cannot be created.
  static Result<std::shared_ptr<FrameWriter>> start();

  // Publishes one picture as the section's next frame. Every check comes
  // before the first store, so a refused frame leaves the section untouched.
  // A picture larger than a slot is also reported on standard error, once
  // for each of the first few sizes refused: nothing of such a stream reaches
  // the camera, while the status line shows it decoding.
  Result<void> write_frame(const Picture& picture);
  // The same for a packed frame, refused unless it is exactly NV12's size.
  Result<void> write_frame(const Nv12Frame& frame);

  // Set by each accepted hello, cleared when the connection ends.
  void set_phone_active(bool active) { phone_active_.store(active); }

  // For the status line, without the lock.
  bool mapped() const { return mapped_.load(); }
  uint64_t written() const { return written_.load(); }

 private:
  static constexpr size_t kSizesReported = 4;  // picture sizes said not to fit, at most

  friend class FrameWriterTest;  // runs a writer on plain memory, without its thread

  using Opener = std::function<Result<MappedSection>(bool* creation_denied)>;
  using TickSource = std::function<uint64_t()>;
  using Printer = std::function<void(std::string_view line)>;

  FrameWriter(Opener open, TickSource tick, Printer warn)
      : open_(std::move(open)), tick_(std::move(tick)), warn_(std::move(warn)) {}

  // One pass of the "shm" thread: heartbeat when mapped, else one mapping
  // attempt whose failure is dropped (the next pass tries again).
  void tend_section();
  // `size`: the bytes the caller has for the picture, checked against its NV12 size.
  Result<void> write_checked(const Picture& picture, uint64_t size);
  // write_checked under the lock; a line to print after it is released goes to `warning`.
  Result<void> write_locked(const Picture& picture, uint64_t size, std::string& warning);

  const Opener open_;
  const TickSource tick_;
  const Printer warn_;
  bool warned_ = false;  // used by "shm" only

  std::mutex lock_;           // guards section_, geometry_ and every access to the view
  MappedSection section_;     // null until the first successful mapping, then for good
  SectionGeometry geometry_;  // as validated when mapped
  std::vector<std::pair<uint32_t, uint32_t>> refused_sizes_;  // reported, at most kSizesReported
  std::atomic<uint64_t> written_{0};
  std::atomic<bool> mapped_{false};
  std::atomic<bool> phone_active_{false};  // written by connections, read by "shm"
};

}  // namespace korvex::section
