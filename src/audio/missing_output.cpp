#include "audio/missing_output.hpp"

#include <fmt/format.h>

#include "audio/find_output_device.hpp"
#include "audio/lower_case.hpp"

namespace korvex::audio {

std::vector<std::string> missing_output_causes(AudioHost& host, std::string_view request) {
  if (find_output_device(host, request)) {
    return {};
  }
  auto endpoints = host.outputs();
  if (!endpoints) {
    return {};
  }
  std::vector<std::string> lines;
  if (lower_case(request).find(U"cable") != std::u32string::npos) {
    if (auto cable = find_output_device(host, kCableInput)) {
      // Most often "CABLE Output", the side programs record from.
      lines.push_back(
          fmt::format("\"{}\" is there: the receiver plays into it (leave --device "
                      "out) and programs record the phone from the cable's other "
                      "side",
                      cable->name));
    } else {
      lines.push_back(missing_cable_text());
    }
  }
  std::string names;
  for (const auto& endpoint : endpoints.value()) {
    if (auto name = endpoint->name()) {
      names += fmt::format("{}\"{}\"", names.empty() ? "" : ", ", name.value());
    }
  }
  lines.push_back(names.empty() ? fmt::format("{} lists no output device", host.name())
                                : "output devices found: " + names);
  return lines;
}

}  // namespace korvex::audio
