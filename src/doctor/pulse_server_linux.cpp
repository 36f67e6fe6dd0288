#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <chrono>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "doctor/linux_probes_linux.hpp"

namespace korvex::doctor {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kAnswerTime{2};

struct LoopFree {
  void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextFree {
  void operator()(pa_context* context) const {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
};

// Runs `loop` until `done()` holds or the deadline has passed; says which.
template <class Done>
bool run_until(pa_mainloop* loop, Clock::time_point deadline, Done done) {
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0 || pa_mainloop_prepare(loop, static_cast<int>(left.count())) < 0 ||
        pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) {
      return done();
    }
  }
  return true;
}

}  // namespace

Result<PulseServer> read_pulse_server() {
  std::unique_ptr<pa_mainloop, LoopFree> loop(pa_mainloop_new());
  if (!loop) {
    return fail("pa_mainloop_new failed");
  }
  std::unique_ptr<pa_context, ContextFree> context(
      pa_context_new(pa_mainloop_get_api(loop.get()), "korvex-doctor"));
  if (!context) {
    return fail("pa_context_new failed");
  }
  const auto deadline = Clock::now() + kAnswerTime;
  if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return fail(fmt::format("connect: {}", pa_strerror(pa_context_errno(context.get()))));
  }
  const auto settled = [&context] {
    const pa_context_state_t state = pa_context_get_state(context.get());
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  };
  if (!run_until(loop.get(), deadline, settled)) {
    return fail("connect: the server did not answer within 2 s");
  }
  if (pa_context_get_state(context.get()) != PA_CONTEXT_READY) {
    return fail(fmt::format("connect: {}", pa_strerror(pa_context_errno(context.get()))));
  }

  std::optional<PulseServer> server;
  pa_operation* operation = pa_context_get_server_info(
      context.get(),
      [](pa_context*, const pa_server_info* info, void* out) {
        auto* answer = static_cast<std::optional<PulseServer>*>(out);
        *answer = PulseServer{};
        if (info != nullptr) {
          (*answer)->name = info->server_name != nullptr ? info->server_name : "";
          (*answer)->version = info->server_version != nullptr ? info->server_version : "";
        }
      },
      &server);
  if (operation == nullptr) {
    return fail(fmt::format("server info: {}", pa_strerror(pa_context_errno(context.get()))));
  }
  const bool answered = run_until(loop.get(), deadline, [&server] { return server.has_value(); });
  pa_operation_unref(operation);
  if (!answered) {
    return fail("server info: the server did not answer within 2 s");
  }
  return server.value();
}

}  // namespace korvex::doctor
