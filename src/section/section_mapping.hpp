#pragma once

// The system object behind the frame section: a named, paging-file backed
// section on Windows, POSIX shared memory on Linux, always mapped whole.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "common/result.hpp"

namespace korvex::section {

// The mapped kSectionSize bytes. The deleter unmaps the view and closes the
// object, so whoever holds this owns both.
using MappedSection = std::unique_ptr<uint8_t, std::function<void(uint8_t*)>>;

// `Global\Korvex.Frames` on Windows, "/Korvex.Frames" on Linux.
std::string_view frame_section_name();

// The receiver's side: opens the object, or creates it all-zero when none
// exists, and maps it read/write. `creation_denied`, when given, is set when
// the object did not exist and this process lacks the right to create it (on
// Windows a standard user may not create global objects; the camera service
// may, and creates it when an application opens the camera).
Result<MappedSection> open_or_create_frame_section(bool* creation_denied = nullptr);

// What becomes of the section when `creation_denied` was set.
std::string_view creation_denied_hint();

// A reader's side: maps an existing object read-only; never creates one.
Result<MappedSection> open_existing_frame_section();

// The camera's side: maps the object read-only, creating it all-zero when
// none exists; the receiver then opens what the camera made and initialises
// its header. The object lives as long as the mapping.
Result<MappedSection> open_frame_section_for_camera();

// The clock of the section's activity_tick: milliseconds since boot
// (GetTickCount64 on Windows, CLOCK_BOOTTIME on Linux).
uint64_t activity_tick_now();

}  // namespace korvex::section
