#include "main/status_line.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace korvex::main {

Rates compute_rates(const counters::CounterSnapshot& previous,
                    const counters::CounterSnapshot& current, double dt) {
  dt = std::max(dt, 0.001);
  // Totals are unsigned; their difference is an unsigned subtraction.
  const auto delta = [](uint64_t before, uint64_t after) {
    return static_cast<double>(after - before);
  };
  return Rates{
      delta(previous.frames_received, current.frames_received) / dt,
      delta(previous.frames_decoded, current.frames_decoded) / dt,
      delta(previous.bytes_received, current.bytes_received) * 8.0 / 1000.0 / dt,
  };
}

float decay_peak(float peak, float level, bool audio_arrived) {
  float next = std::fmax(level, peak * 0.6f);  // fmax ignores a NaN operand
  if (std::isnan(next)) {
    next = level;
  }
  if (!audio_arrived) {
    next *= 0.5f;
  }
  return next;
}

std::string level_meter(float peak) {
  if (std::isnan(peak)) {
    peak = 0.0f;
  }
  peak = std::clamp(peak, 0.0f, 1.0f);
  const auto filled = static_cast<size_t>(std::round(peak * 12.0f));
  std::string meter = "[";
  meter.append(filled, '#');
  meter.append(12 - filled, '.');
  meter += ']';
  return meter;
}

std::string format_status_line(const StatusFields& f) {
  return fmt::format(
      "cam {} | shm {} | {} | {:.1f} fps rx {:.1f} dec {:.0f} kbps {}x{} | q {} drop {} err {} | "
      "rtt {:.1f} ms | audio {:.0f} ms under {} {} {:.2f}",
      f.vcam, f.shm, f.phone, f.rx_fps, f.dec_fps, f.kbps, f.width, f.height, f.queue_length,
      f.dropped, f.decode_errors, f.rtt_ms, f.buffered_ms, f.underruns, level_meter(f.peak),
      f.level);
}

size_t count_chars(std::string_view utf8) {
  // Every byte that is not a continuation byte (10xxxxxx) starts a character.
  return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string_view first_chars(std::string_view utf8, size_t count) {
  size_t chars = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (chars == count) {
        return utf8.substr(0, i);
      }
      ++chars;
    }
  }
  return utf8;
}

std::string StatusLineWriter::render(const std::string& line, std::optional<size_t> columns) {
  if (!terminal_) {
    return line + "\n";
  }
  // A line reaching the last column makes some consoles wrap at once.
  const size_t limit = columns && *columns > 0 ? *columns - 1 : SIZE_MAX;
  const std::string_view shown = first_chars(line, limit);
  const size_t length = count_chars(shown);
  std::string out = "\r";
  out += shown;
  const size_t padded = std::min(previous_length_, limit);
  if (padded > length) {
    out.append(padded - length, ' ');
  }
  previous_length_ = length;
  return out;
}

}  // namespace korvex::main
