#include "audio/device_modes.hpp"

#include <optional>

#include <fmt/format.h>

#include "audio/find_output_device.hpp"
#include "audio/microphone.hpp"
#include "platform/console.hpp"

namespace korvex::audio {

std::string device_list_text(AudioHost& host, bool microphone) {
  std::optional<std::string> default_name;
  if (auto endpoint = host.default_output()) {
    if (auto name = endpoint->name()) {
      default_name = std::move(name.value());
    }
  }

  std::string text = fmt::format("Output devices ({}):\n", host.name());
  if (microphone) {
    text += fmt::format("  - {} (created by the receiver)\n", kMicrophoneName);
  }
  auto endpoints = host.outputs();
  if (!endpoints) {
    return text + fmt::format("  (could not enumerate: {})\n", endpoints.error());
  }
  for (const auto& endpoint : endpoints.value()) {
    auto name = endpoint->name();
    const std::string shown = name ? name.value() : "<unknown>";
    // The marker compares names, so same-named endpoints are all marked.
    const bool is_default = name && default_name == name.value();
    text += fmt::format("  - {}{}\n", shown, is_default ? "  (default)" : "");
  }
  return text;
}

int list_output_devices() {
  auto host = make_audio_host();
  auto microphones = make_microphone_host();
  platform::write_stdout(
      device_list_text(*host, microphones != nullptr && microphones->server_running()));
  return 0;
}

int check_output_device(std::string_view name) {
  auto host = make_audio_host();
  auto found = find_output_device(*host, name);
  if (!found) {
    platform::write_stderr(found.error() + "\n");
    return 1;
  }
  platform::write_stdout(fmt::format("found \"{}\"\n", found->name));
  return 0;
}

}  // namespace korvex::audio
