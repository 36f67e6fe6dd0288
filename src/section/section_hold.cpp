#include "section/section_hold.hpp"

#include <utility>

namespace korvex::section {

SectionHold::SectionHold(Opener open) : open_(std::move(open)) {
  (void)view();  // a failure is tried again by the first reader
}

std::shared_ptr<SectionHold> SectionHold::for_camera() {
  return std::make_shared<SectionHold>(open_frame_section_for_camera);
}

Result<MappedSection> SectionHold::view() {
  std::lock_guard guard(mutex_);
  if (!mapping_) {
    Result<MappedSection> opened = open_();
    if (!opened) {
      return Error{opened.error()};
    }
    // The mapping's own deleter runs when the hold and the last view are gone.
    MappedSection owned = std::move(opened.value());
    auto deleter = owned.get_deleter();
    mapping_ = std::shared_ptr<uint8_t>(owned.release(), std::move(deleter));
  }
  return MappedSection(mapping_.get(), [keep = mapping_](uint8_t*) {});
}

}  // namespace korvex::section
