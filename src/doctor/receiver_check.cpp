#include "doctor/receiver_check.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "section/section_mapping.hpp"

namespace korvex::doctor {

bool receiver_runs(const Result<std::vector<platform::ListeningProcess>>& listeners) {
  return listeners && std::any_of(listeners->begin(), listeners->end(), platform::is_receiver);
}

namespace {

// A fresh sign of life in the section: a receiver with a phone, whatever the
// system says of the port.
bool phone_streams(const SectionState& section) {
  if (!section.header || !section::validate_header(section.header.value())) {
    return false;
  }
  const uint64_t tick = section.header.value().activity_tick;
  return tick != 0 && tick <= section.now_tick && section.now_tick - tick <= kStreamingWithinMs;
}

}  // namespace

Finding check_receiver(const Result<std::vector<platform::ListeningProcess>>& listeners,
                       const SectionState& section, std::string_view start) {
  if (phone_streams(section)) {
    return ok("receiver", fmt::format("the receiver runs and a phone is streaming ({} pictures "
                                      "so far)",
                                      section.header.value().frame_counter));
  }
  const bool runs = receiver_runs(listeners);
  // The system may not name the port's holder: it may be the receiver.
  const bool maybe = listeners && std::any_of(listeners->begin(), listeners->end(),
                                              [](const auto& holder) { return holder.pid == 0; });
  if (!runs && !maybe) {
    return warning("receiver", fmt::format("the receiver is not running: {}", start));
  }
  if (runs && !section.header) {
    return warning("receiver", fmt::format("the receiver runs, but its frame section {} is not "
                                           "there ({}): the camera has nothing to show",
                                           section::frame_section_name(), section.header.error()));
  }
  if (section.header) {
    if (auto valid = section::validate_header(section.header.value()); !valid) {
      return problem("receiver",
                     fmt::format("the frame section {} is not one the camera can read ({}): end "
                                 "every receiver and start one again",
                                 section::frame_section_name(), valid.error()));
    }
  }
  return warning("receiver",
                 "no phone is streaming: open the Korvex app on the iPhone and pick this PC");
}

}  // namespace korvex::doctor
