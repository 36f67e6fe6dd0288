#include "server/listener.hpp"

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "platform/console.hpp"
#include "platform/thread.hpp"
#include "server/connection.hpp"
#include "server/ping.hpp"

namespace korvex::server {
namespace {

// A phone silent for this long is gone; its pings answered keep it inside.
constexpr uint32_t kReceiveTimeoutMs = 10'000;

// Gives the phone its connection id, the send path and its two threads.
// False when a thread could not be started.
bool serve(const std::shared_ptr<ServerContext>& context, platform::Accepted accepted) {
  const std::shared_ptr<PhoneLink>& link = context->link;
  platform::Socket& socket = accepted.socket;
  socket.set_connection_options(kReceiveTimeoutMs, kSendTimeoutMs);

  const uint64_t id = context->next_connection_id.fetch_add(1);
  const auto slot = context->slots->hold();
  auto alive = std::make_shared<std::atomic<bool>>(true);
  auto send_socket = socket.duplicate();
  if (!send_socket) {
    return true;  // the accepted socket closes as it goes out of scope
  }
  link->install_current(std::move(send_socket.value()), alive, id);
  platform::write_stderr(fmt::format("phone connected from {}\n", accepted.peer));
  link->counters()->connected.store(true, std::memory_order_relaxed);
  link->counters()->rtt_us.store(0, std::memory_order_relaxed);

  const auto ping =
      platform::spawn_thread(fmt::format("ping-{}", id), [link, id, slot] { ping_loop(link, id); });
  if (!ping) {
    platform::write_stderr(fmt::format("spawn ping thread: {}\n", ping.error()));
    return false;
  }
  // std::function needs a copyable body; the socket travels in a shared box.
  auto reader = std::make_shared<platform::Socket>(std::move(socket));
  const auto connection =
      platform::spawn_thread(fmt::format("phone-{}", id), [context, reader, alive, id, slot] {
        run_connection(context, std::move(*reader), alive, id);
      });
  if (!connection) {
    platform::write_stderr(fmt::format("spawn connection thread: {}\n", connection.error()));
    return false;
  }
  return true;
}

}  // namespace

Result<platform::Socket> bind_listener() {
  return platform::listen_tcp(kPhonePort);
}

std::optional<std::string> accept_connections(const AcceptSteps& steps) {
  for (;;) {
    platform::AcceptResult result = steps.accept();
    if (auto* accepted = std::get_if<platform::Accepted>(&result)) {
      if (!steps.serve(std::move(*accepted))) {
        return std::nullopt;
      }
      continue;
    }
    const auto& error = std::get<platform::AcceptError>(result);
    switch (error.failure) {
      case platform::AcceptFailure::peer:
        break;
      case platform::AcceptFailure::resources:
        steps.pause(kAcceptPause);
        break;
      case platform::AcceptFailure::listener:
        return error.text;
    }
  }
}

void accept_loop(std::shared_ptr<ServerContext> context, platform::Socket listener) {
  const AcceptSteps steps{
      [&listener, &context] {
        context->slots->wait_for_free();
        return listener.accept();
      },
      [&context](platform::Accepted accepted) { return serve(context, std::move(accepted)); },
      [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); },
  };
  if (auto failure = accept_connections(steps)) {
    listener.close();
    platform::write_stderr(fmt::format("server stopped: {}\n", *failure));
    platform::exit_process(1);
  }
}

}  // namespace korvex::server
