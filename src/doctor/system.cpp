#include "doctor/system.hpp"

#include "section/section_mapping.hpp"

namespace korvex::doctor {

SectionState system_frame_section() {
  SectionState state;
  auto mapped = section::open_existing_frame_section();
  if (!mapped) {
    state.header = fail(mapped.error());
    return state;
  }
  state.header = section::read_header(mapped.value().get());
  state.now_tick = section::activity_tick_now();
  return state;
}

}  // namespace korvex::doctor
