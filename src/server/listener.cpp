#include "server/listener.hpp"

#include <atomic>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "platform/console.hpp"
#include "platform/thread.hpp"
#include "server/connection.hpp"
#include "server/ping.hpp"

namespace korvex::server {
namespace {

// A phone silent for this long is gone; its pings answered keep it inside.
constexpr uint32_t kReceiveTimeoutMs = 10'000;
// Bounds how long any write to the phone holds the send lock.
constexpr uint32_t kSendTimeoutMs = 2'000;

}  // namespace

Result<platform::Socket> bind_listener() {
  return platform::listen_tcp(kPhonePort);
}

void accept_loop(std::shared_ptr<ServerContext> context, platform::Socket listener) {
  const std::shared_ptr<PhoneLink>& link = context->link;
  for (;;) {
    auto accepted = listener.accept();
    if (!accepted) {
      listener.close();
      platform::write_stderr(fmt::format("server stopped: {}\n", accepted.error()));
      platform::exit_process(1);
    }
    platform::Socket& socket = accepted->socket;
    socket.set_connection_options(kReceiveTimeoutMs, kSendTimeoutMs);

    const uint64_t id = context->next_connection_id.fetch_add(1);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    auto send_socket = socket.duplicate();
    if (!send_socket) {
      continue;  // the accepted socket closes as it goes out of scope
    }
    link->install_current(std::move(send_socket.value()), alive, id);
    platform::write_stderr(fmt::format("phone connected from {}\n", accepted->peer));
    link->counters()->connected.store(true, std::memory_order_relaxed);
    link->counters()->rtt_us.store(0, std::memory_order_relaxed);

    const auto ping = platform::spawn_thread(fmt::format("ping-{}", id),
                                             [alive, link, id] { ping_loop(alive, link, id); });
    if (!ping) {
      platform::write_stderr(fmt::format("spawn ping thread: {}\n", ping.error()));
      return;
    }
    // std::function needs a copyable body; the socket travels in a shared box.
    auto reader = std::make_shared<platform::Socket>(std::move(socket));
    const auto connection = platform::spawn_thread(
        fmt::format("phone-{}", id),
        [context, reader, alive, id] { run_connection(context, std::move(*reader), alive, id); });
    if (!connection) {
      platform::write_stderr(fmt::format("spawn connection thread: {}\n", connection.error()));
      return;
    }
  }
}

}  // namespace korvex::server
