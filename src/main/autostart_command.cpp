#include "main/autostart_command.hpp"

#include <charconv>

namespace korvex::main {
namespace {

template <class Number>
std::string fixed_shortest(Number value) {
  // Fixed notation without a precision is the shortest text that reads back
  // exactly; 1e-300 needs some 300 characters, hence the size.
  char buffer[400];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, end.ptr);
}

}  // namespace

std::string shortest_decimal(float value) {
  return fixed_shortest(value);
}

std::string shortest_decimal(double value) {
  return fixed_shortest(value);
}

std::string autostart_command_line(std::string_view program, const Settings& settings,
                                   QuoteArgument quote) {
  std::string line = quote(program) + " --background";
  if (settings.device != kDefaultDevice) {
    line += " --device " + quote(settings.device);
  }
  if (settings.gain != kDefaultGain) {
    line += " --gain " + shortest_decimal(settings.gain);
  }
  if (settings.prefill_ms != kDefaultPrefillMs) {
    line += " --prefill-ms " + shortest_decimal(settings.prefill_ms);
  }
  if (settings.no_mdns) {
    line += " --no-mdns";
  }
  if (settings.no_vcam) {
    line += " --no-vcam";
  }
  if (settings.no_audio) {
    line += " --no-audio";
  }
  return line;
}

}  // namespace korvex::main
