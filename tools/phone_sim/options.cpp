#include "options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace korvex::phone_sim {
namespace {

constexpr std::string_view kValueOptions[] = {
    "--host", "--port",  "--size",    "--fps",        "--duration", "--gop",  "--bitrate",
    "--name", "--audio", "--tone-hz", "--tone-level", "--colour",   "--save", "--pace",
};

template <class T>
std::optional<T> parse_number(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// A whole number in [low, high].
std::optional<uint32_t> parse_count(std::string_view text, uint32_t low, uint32_t high) {
  const auto value = parse_number<uint32_t>(text);
  if (!value || *value < low || *value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> parse_real(std::string_view text, double low, double high) {
  const auto value = parse_number<double>(text);
  if (!value || !std::isfinite(*value) || *value < low || *value > high) {
    return std::nullopt;
  }
  return value;
}

// "WxH", both even (4:2:0 chroma) and at most 4096.
bool parse_size(std::string_view text, tools::H264Settings& video) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) {
    return false;
  }
  const auto w = parse_count(text.substr(0, x), 2, 4096);
  const auto h = parse_count(text.substr(x + 1), 2, 4096);
  if (!w || !h || *w % 2 != 0 || *h % 2 != 0) {
    return false;
  }
  video.width = *w;
  video.height = *h;
  return true;
}

Result<void> apply(Options& o, std::string_view option, std::string_view value) {
  const std::string bad = std::string(option) + ": invalid value " + std::string(value);
  if (option == "--host") {
    o.host = value;
  } else if (option == "--port") {
    const auto port = parse_count(value, 1, 65535);
    if (!port) {
      return fail(bad);
    }
    o.port = static_cast<uint16_t>(*port);
  } else if (option == "--size") {
    if (!parse_size(value, o.video)) {
      return fail(bad + " (WxH, both even, at most 4096)");
    }
  } else if (option == "--fps" || option == "--gop" || option == "--bitrate") {
    const auto n = parse_count(value, 1, option == "--fps" ? 240 : 1'000'000);
    if (!n) {
      return fail(bad);
    }
    (option == "--fps" ? o.video.fps : option == "--gop" ? o.video.gop : o.video.bitrate_kbps) = *n;
  } else if (option == "--pace") {
    const auto n = parse_count(value, 1, 100'000);
    if (!n) {
      return fail(bad);
    }
    o.pace = *n;
  } else if (option == "--duration") {
    const auto d = parse_real(value, 0, 1e7);
    if (!d) {
      return fail(bad);
    }
    o.duration_s = *d;
  } else if (option == "--save") {
    o.save_stream = value;
  } else if (option == "--name") {
    o.name = value;
  } else if (option == "--audio") {
    if (value == "tone") {
      o.audio = AudioMode::tone;
    } else if (value == "silent") {
      o.audio = AudioMode::silent;
    } else if (value == "none") {
      o.audio = AudioMode::none;
    } else {
      return fail(bad + " (tone, silent or none)");
    }
  } else if (option == "--tone-hz") {
    const auto hz = parse_real(value, 1, 24000);
    if (!hz) {
      return fail(bad);
    }
    o.tone_hz = *hz;
  } else if (option == "--tone-level") {
    const auto level = parse_real(value, 0, 1);
    if (!level) {
      return fail(bad);
    }
    o.tone_level = *level;
  } else if (option == "--colour") {
    if (value == "bt601") {
      o.video.colour = tools::ColourTag::bt601;
    } else if (value == "bt709") {
      o.video.colour = tools::ColourTag::bt709;
    } else {
      return fail(bad + " (bt601 or bt709)");
    }
  }
  return {};
}

}  // namespace

const std::string_view kHelpText =
    "korvex-phone-sim: streams a test picture and tone to a Korvex receiver, as the phone does\n"
    "\n"
    "USAGE:\n"
    "  korvex-phone-sim [OPTIONS]\n"
    "\n"
    "OPTIONS:\n"
    "  --host ADDRESS        Receiver address, IPv4 or IPv6 [default: 127.0.0.1]\n"
    "  --port PORT           Receiver port [default: 45334]\n"
    "  --discover            Find the receiver over DNS-SD (_korvex._tcp, through the\n"
    "                        Avahi daemon), as the phone does; replaces --host and --port\n"
    "  --size WxH            Picture size, even numbers [default: 1280x720]\n"
    "  --fps N               Pictures per second [default: 30]\n"
    "  --duration SECONDS    How long to stream; 0 until Ctrl-C [default: 0]\n"
    "  --gop FRAMES          Pictures from one keyframe to the next [default: 60]\n"
    "  --bitrate KBPS        Video bitrate [default: 4000]\n"
    "  --name TEXT           Phone name in the hello [default: Korvex phone simulator]\n"
    "  --audio MODE          tone, silent or none [default: tone]\n"
    "  --tone-hz HZ          Tone frequency [default: 440]\n"
    "  --tone-level LEVEL    Tone amplitude, 0 to 1 of full scale [default: 0.25]\n"
    "  --colour MATRIX       Colour tag of the stream, bt601 or bt709 [default: bt601]\n"
    "  --pre-encode          Encode all pictures before connecting, each stamped with\n"
    "                        the time it is due, then send each exactly then (the\n"
    "                        latency read from the stamps leaves out the encoder);\n"
    "                        keyframe requests are counted, not answered. Needs --duration\n"
    "  --save FILE           With --pre-encode: also write the pictures to FILE, a stream\n"
    "                        file as korvex-raw-decode reads\n"
    "  --flat-out            With --pre-encode: from the first picture's time on, send\n"
    "                        the pictures back to back, as fast as the connection takes\n"
    "                        them, over and over until --duration is over (each pass\n"
    "                        from the first keyframe, timestamps rising on at --fps);\n"
    "                        stamps keep the index in the pass and the scheduled time\n"
    "  --pace N              With --flat-out: at most N pictures a second (an overload\n"
    "                        of a chosen size rather than a flood)\n"
    "  -h, --help            Show this help\n"
    "\n"
    "Every picture carries a stamp with its index and send time. The last line on\n"
    "standard output counts what was sent and answered, as key=value pairs.\n";

Result<Options> parse_options(const std::vector<std::string_view>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return options;
    }
    if (arg == "--discover" || arg == "--pre-encode" || arg == "--flat-out") {
      (arg == "--discover"     ? options.discover
       : arg == "--pre-encode" ? options.pre_encode
                               : options.flat_out) = true;
      continue;
    }
    if (std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) ==
        std::end(kValueOptions)) {
      return fail("unknown argument: " + std::string(arg));
    }
    if (i + 1 == args.size()) {
      return fail(std::string(arg) + " needs a value");
    }
    if (auto applied = apply(options, arg, args[++i]); !applied) {
      return fail(applied.error());
    }
  }
  if (options.pre_encode && options.duration_s == 0) {
    return fail("--pre-encode needs a --duration");
  }
  if (!options.save_stream.empty() && !options.pre_encode) {
    return fail("--save needs --pre-encode");
  }
  if (options.flat_out && !options.pre_encode) {
    return fail("--flat-out needs --pre-encode");
  }
  if (options.pace != 0 && !options.flat_out) {
    return fail("--pace needs --flat-out");
  }
  return options;
}

}  // namespace korvex::phone_sim
