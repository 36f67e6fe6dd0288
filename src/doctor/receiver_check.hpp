#pragma once

// Whether the receiver runs, and whether a phone streams to it.

#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "doctor/report.hpp"
#include "doctor/system.hpp"
#include "platform/listening_processes.hpp"

namespace korvex::doctor {

// A phone streams while the receiver's sign of life in the section is this fresh.
inline constexpr uint64_t kStreamingWithinMs = 2000;

// Whether one of `listeners` is the receiver.
bool receiver_runs(const Result<std::vector<platform::ListeningProcess>>& listeners);

// `start`: how to start the receiver on this system.
Finding check_receiver(const Result<std::vector<platform::ListeningProcess>>& listeners,
                       const SectionState& section, std::string_view start);

}  // namespace korvex::doctor
