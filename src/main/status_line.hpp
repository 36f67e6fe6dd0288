#pragma once

// The once-a-second status line: its figures, its text and how it is drawn.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "counters/counters.hpp"

namespace korvex::main {

struct StatusFields {
  std::string vcam;  // "registered", "streaming", "lost", "directshow", "unavailable" or "disabled"
  std::string shm;   // "mapped N written" or "waiting"
  std::string phone;  // the phone's name or "waiting for iPhone"
  double rx_fps = 0;
  double dec_fps = 0;
  double kbps = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint64_t queue_length = 0;
  uint64_t dropped = 0;
  uint64_t decode_errors = 0;
  double rtt_ms = 0;
  double buffered_ms = 0;
  uint64_t underruns = 0;
  float peak = 0;   // decayed peak, drawn as the meter
  float level = 0;  // the last audio message's peak, printed as a number
};

struct Rates {
  double rx_fps = 0;
  double dec_fps = 0;
  double kbps = 0;
};

// Per-second rates between two snapshots taken `dt` seconds apart.
Rates compute_rates(const counters::CounterSnapshot& previous,
                    const counters::CounterSnapshot& current, double dt);

// The meter's next peak: it follows a louder level at once and otherwise
// falls to 0.6 of itself each second, halved again when no audio arrived.
float decay_peak(float peak, float level, bool audio_arrived);

// "[######......]": twelve cells, the first round(peak * 12) filled.
std::string level_meter(float peak);

std::string format_status_line(const StatusFields& fields);

// Characters (Unicode scalar values) in UTF-8 text.
size_t count_chars(std::string_view utf8);

// The longest start of `utf8` with at most `count` characters, counted as
// count_chars does; it never ends inside a character.
std::string_view first_chars(std::string_view utf8, size_t count);

// Draws successive status lines: over each other in a terminal, padded so no
// stale characters remain and cut to one column less than the console's
// `columns` (when known), since a line that wraps cannot be drawn over; one
// whole line per line when the output is redirected.
class StatusLineWriter {
 public:
  explicit StatusLineWriter(bool terminal) : terminal_(terminal) {}
  std::string render(const std::string& line, std::optional<size_t> columns);

 private:
  bool terminal_;
  size_t previous_length_ = 0;
};

}  // namespace korvex::main
