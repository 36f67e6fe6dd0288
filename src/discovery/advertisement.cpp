#include "discovery/advertisement.hpp"

#include <mutex>
#include <utility>

#include "discovery/service_label.hpp"
#include "platform/environment.hpp"
#include "platform/interface_addresses.hpp"

namespace korvex::discovery {
namespace {

// Filled by the main thread at startup, emptied by the console event handler.
std::mutex g_kept_mutex;
std::unique_ptr<Responder> g_kept;  // guarded by g_kept_mutex

}  // namespace

Result<Advertisement> advertise_service() {
  Result<std::unique_ptr<Responder>> responder = start_responder();
  if (!responder) {
    return fail(responder.error());
  }

  Advertisement advertisement;
  advertisement.label = service_label(platform::environment_variable("COMPUTERNAME"),
                                      platform::environment_variable("HOSTNAME"));
  // A list that cannot be read counts as empty: it fails just below.
  if (auto listed = platform::list_interface_addresses(); listed) {
    advertisement.addresses = advertisable_addresses(listed.value());
  }
  if (advertisement.addresses.empty()) {
    return fail("no usable IPv4 LAN address to advertise");
  }

  const ServiceDescription service{advertisement.label, advertisement.label + ".local",
                                   advertisement.addresses};
  advertisement.full_name = advertisement.label + "." + kServiceType + ".local";
  if (auto published = responder.value()->publish(service); !published) {
    return fail(published.error());
  }
  advertisement.responder = std::move(responder.value());
  return advertisement;
}

void keep_advertisement(Advertisement advertisement) {
  std::lock_guard lock(g_kept_mutex);
  g_kept = std::move(advertisement.responder);
}

void withdraw_advertisement() {
  // Held across the withdrawal, so a second caller returns (and may end the
  // process) only once the service is gone.
  std::lock_guard lock(g_kept_mutex);
  if (g_kept) {
    g_kept->withdraw();
    g_kept.reset();
  }
}

}  // namespace korvex::discovery
