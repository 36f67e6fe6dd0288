#include "audio/find_output_device.hpp"

#include <fmt/format.h>

#include "audio/lower_case.hpp"

namespace korvex::audio {
namespace {

bool is_default_request(std::string_view request) {
  constexpr std::string_view kDefault = "default";
  if (request.size() != kDefault.size()) {
    return false;
  }
  for (size_t i = 0; i < request.size(); ++i) {
    char c = request[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != kDefault[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string no_match_text(std::string_view request) {
  return fmt::format(
      "no output device matching \"{}\"; run --list-devices, install VB-CABLE ({}) for the mic",
      request, kVirtualCablePage);
}

Result<FoundDevice> find_output_device(AudioHost& host, std::string_view request) {
  if (is_default_request(request)) {
    auto endpoint = host.default_output();
    if (!endpoint) {
      return fail("no default output device");
    }
    auto name = endpoint->name();
    return FoundDevice{std::move(endpoint), name ? std::move(name.value()) : "default"};
  }

  const std::u32string wanted = lower_case(request);
  auto endpoints = host.outputs();
  if (!endpoints) {
    return fail(fmt::format("cannot enumerate output devices: {}", endpoints.error()));
  }
  for (auto& endpoint : endpoints.value()) {
    auto name = endpoint->name();
    if (name && lower_case(name.value()).find(wanted) != std::u32string::npos) {
      return FoundDevice{endpoint, std::move(name.value())};
    }
  }
  return fail(no_match_text(request));
}

Result<FoundDevice> find_output_named(AudioHost& host, const std::string& name) {
  auto endpoints = host.outputs();
  if (!endpoints) {
    return fail(fmt::format("cannot enumerate output devices: {}", endpoints.error()));
  }
  for (auto& endpoint : endpoints.value()) {
    if (auto found = endpoint->name(); found && found.value() == name) {
      return FoundDevice{endpoint, name};
    }
  }
  return fail(fmt::format("no output device named \"{}\"", name));
}

}  // namespace korvex::audio
