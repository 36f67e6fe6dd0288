// korvex-phone-sim: stands in for the phone's sender app. Connects to a
// receiver, sends a hello, stamped test video and a tone, answers the
// receiver's pings and keyframe requests, and counts what it did.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "connection.hpp"
#include "discover.hpp"
#include "options.hpp"
#include "platform/console.hpp"
#include "pre_encoded.hpp"
#include "session.hpp"

namespace {

std::atomic<bool> g_interrupted{false};

void on_signal(int) {
  g_interrupted = true;
}

// Ctrl-C and SIGTERM end the run as its duration would: Bye, summary, status 0.
void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korvex;
  static_assert(std::atomic<bool>::is_always_lock_free);

  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const auto options = phone_sim::parse_options(args);
  if (!options) {
    platform::write_stderr(options.error() + "\n\n");
    platform::write_stderr(phone_sim::kHelpText);
    return 2;
  }
  if (options->help) {
    platform::write_stdout(phone_sim::kHelpText);
    return 0;
  }
  catch_interrupts();

  std::optional<phone_sim::PreEncoded> pre_encoded;
  if (options->pre_encode) {
    auto encoded = phone_sim::pre_encode(options.value());
    if (!encoded) {
      platform::write_stderr(encoded.error() + "\n");
      return 1;
    }
    pre_encoded = std::move(encoded).value();
    platform::write_stdout(fmt::format("-> pre-encoded {} pictures in {:.1f} s\n",
                                       pre_encoded->messages.size(), pre_encoded->encode_seconds));
  }

  std::string host = options->host;
  uint16_t port = options->port;
  if (options->discover) {
    const auto found = phone_sim::discover_receiver(std::chrono::seconds(10));
    if (!found) {
      platform::write_stderr(found.error() + "\n");
      return 1;
    }
    platform::write_stdout(fmt::format("-> discovered \"{}\" at {}:{}\n", found->instance,
                                       found->address, found->port));
    host = found->address;
    port = found->port;
  }

  const std::string endpoint = phone_sim::endpoint_text(host, port);
  auto connection = phone_sim::Connection::open(host, port);
  if (!connection) {
    platform::write_stderr(fmt::format("cannot connect to {}: {}\n", endpoint, connection.error()));
    return 1;
  }
  const auto& video = options->video;
  platform::write_stdout(fmt::format(
      "-> connected to {}, sending {}x{} {}\n", endpoint, video.width, video.height,
      options->flat_out ? std::string("flat out") : fmt::format("at {} fps", video.fps)));

  phone_sim::Session session(*connection.value(), options.value(), g_interrupted);
  session.pre_encoded = pre_encoded ? &*pre_encoded : nullptr;
  phone_sim::run_session(session);

  const phone_sim::Counts& c = session.counts;
  platform::write_stdout(fmt::format(
      "frames={} keyframes={} audio={} pings_answered={} keyframe_requests={} late={}\n",
      c.frames.load(), c.keyframes.load(), c.audio.load(), c.pings_answered.load(),
      c.keyframe_requests.load(), c.late.load()));
  if (const std::string error = session.error(); !error.empty()) {
    platform::write_stderr(error + "\n");
    return 1;
  }
  return 0;
}
