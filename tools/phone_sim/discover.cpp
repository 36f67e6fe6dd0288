#include "discover.hpp"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <memory>
#include <optional>

#include <fmt/format.h>

namespace korvex::phone_sim {
namespace {

// Everything the callbacks fill in, on the one thread that runs the poll.
struct Search {
  AvahiClient* client = nullptr;
  AvahiServiceResolver* resolver = nullptr;  // for the first instance found
  std::optional<DiscoveredReceiver> found;
  std::string error;
};

void on_resolved(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                 const char* name, const char*, const char*, const char*,
                 const AvahiAddress* address, uint16_t port, AvahiStringList*,
                 AvahiLookupResultFlags, void* context) {
  auto* search = static_cast<Search*>(context);
  if (event != AVAHI_RESOLVER_FOUND) {
    search->error =
        fmt::format("resolve \"{}\": {}", name, avahi_strerror(avahi_client_errno(search->client)));
    return;
  }
  char text[AVAHI_ADDRESS_STR_MAX];
  avahi_address_snprint(text, sizeof text, address);
  search->found = DiscoveredReceiver{name, text, port};
}

void on_browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                AvahiLookupResultFlags, void* context) {
  auto* search = static_cast<Search*>(context);
  if (event == AVAHI_BROWSER_FAILURE) {
    search->error = fmt::format("browse: {}", avahi_strerror(avahi_client_errno(search->client)));
  } else if (event == AVAHI_BROWSER_NEW && search->resolver == nullptr) {
    search->resolver = avahi_service_resolver_new(
        search->client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
        static_cast<AvahiLookupFlags>(0), on_resolved, search);
    if (search->resolver == nullptr) {
      search->error = fmt::format("resolve \"{}\": {}", name,
                                  avahi_strerror(avahi_client_errno(search->client)));
    }
  }
}

}  // namespace

Result<DiscoveredReceiver> discover_receiver(std::chrono::milliseconds limit) {
  const std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(
      avahi_simple_poll_new(), avahi_simple_poll_free);
  if (!poll) {
    return fail("discover: cannot create Avahi's poll");
  }
  int error = 0;
  const std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(
      avahi_client_new(avahi_simple_poll_get(poll.get()), static_cast<AvahiClientFlags>(0), nullptr,
                       nullptr, &error),
      avahi_client_free);  // frees the browser and the resolver with it
  if (!client) {
    return fail(fmt::format("discover: {}", avahi_strerror(error)));
  }
  Search search;
  search.client = client.get();
  if (avahi_service_browser_new(client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, "_korvex._tcp",
                                nullptr, static_cast<AvahiLookupFlags>(0), on_browsed,
                                &search) == nullptr) {
    return fail(
        fmt::format("discover: browse: {}", avahi_strerror(avahi_client_errno(client.get()))));
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!search.found && search.error.empty() && std::chrono::steady_clock::now() < deadline) {
    if (avahi_simple_poll_iterate(poll.get(), 100) != 0) {
      break;
    }
  }
  if (search.found) {
    return search.found.value();
  }
  if (!search.error.empty()) {
    return fail("discover: " + search.error);
  }
  return fail(fmt::format("discover: no _korvex._tcp service found within {} ms", limit.count()));
}

}  // namespace korvex::phone_sim
