#include "main/settings.hpp"

#include <cmath>

#include "main/number_syntax.hpp"

namespace korvex::main {
namespace {

// Every option that takes a value, with its long form for messages.
struct ValueOption {
  std::string_view short_form;
  std::string_view long_form;
};

constexpr ValueOption kValueOptions[] = {
    {"-d", "--device"},    {"-g", "--gain"},    {"", "--prefill-ms"},   {"", "--frames"},
    {"", "--dump-frames"}, {"", "--autostart"}, {"", "--probe-camera"}, {"", "--check-device"},
};

const ValueOption* find_value_option(std::string_view arg) {
  for (const auto& option : kValueOptions) {
    if (arg == option.long_form || (!option.short_form.empty() && arg == option.short_form)) {
      return &option;
    }
  }
  return nullptr;
}

}  // namespace

Result<Mode> parse_args(const std::vector<std::string>& args) {
  Settings settings;
  std::optional<std::string> probe_camera;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];

    if (arg == "--list-devices") {
      return Mode{mode::ListDevices{}};
    }
    if (arg == "--list-cameras") {
      return Mode{mode::ListCameras{}};
    }
    if (arg == "-h" || arg == "--help") {
      return Mode{mode::Help{}};
    }
    if (arg == "--no-mdns") {
      settings.no_mdns = true;
      continue;
    }
    if (arg == "--no-vcam") {
      settings.no_vcam = true;
      continue;
    }
    if (arg == "--no-audio") {
      settings.no_audio = true;
      continue;
    }
    if (arg == "--background") {
      settings.background = true;
      continue;
    }

    const ValueOption* option = find_value_option(arg);
    if (option == nullptr) {
      return fail("unknown argument: " + arg);
    }
    const std::string long_form(option->long_form);
    if (i + 1 == args.size()) {
      return fail(long_form + " needs a value");
    }
    const std::string& value = args[++i];

    if (long_form == "--device") {
      settings.device = value;
      settings.device_given = true;
    } else if (long_form == "--gain") {
      const auto number = parse_decimal(value);
      if (!number) {
        return fail("--gain needs a number");
      }
      const auto gain = static_cast<float>(*number);
      if (!(gain > 0.0f && gain <= 64.0f)) {
        return fail("--gain must be in (0, 64]");
      }
      settings.gain = gain;
    } else if (long_form == "--prefill-ms") {
      const auto number = parse_decimal(value);
      if (!number) {
        return fail("--prefill-ms needs a number");
      }
      if (!(*number >= 0.0 && *number < 1000.0)) {
        return fail("--prefill-ms must be in [0, 1000)");
      }
      settings.prefill_ms = *number;
    } else if (long_form == "--frames") {
      const auto count = parse_count(value);
      if (!count) {
        return fail("--frames needs a number");
      }
      if (*count == 0) {
        return fail("--frames must be at least 1");
      }
      settings.frames = *count;
    } else if (long_form == "--dump-frames") {
      settings.dump_frames = value;
    } else if (long_form == "--autostart") {
      if (value == "on") {
        settings.autostart = Autostart::on;
      } else if (value == "off") {
        settings.autostart = Autostart::off;
      } else {
        return fail("--autostart needs on|off");
      }
    } else if (long_form == "--probe-camera") {
      probe_camera = value;
    } else if (long_form == "--check-device") {
      return Mode{mode::CheckDevice{value}};
    }
  }

  if (probe_camera) {
    return Mode{mode::ProbeCamera{*probe_camera, settings.frames, settings.dump_frames}};
  }
  return Mode{mode::Receive{settings}};
}

}  // namespace korvex::main
