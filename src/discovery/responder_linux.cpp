// The responder over the Avahi daemon, reached through avahi-client on
// Avahi's threaded poll (the responder's own thread). Every touch of the
// client or the entry group from another thread holds the poll's lock.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <strings.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "discovery/responder.hpp"
#include "platform/console.hpp"

namespace korvex::discovery {
namespace {

std::string avahi_text(int error) {
  return avahi_strerror(error);
}

class AvahiResponder final : public Responder {
 public:
  AvahiResponder() = default;
  AvahiResponder(const AvahiResponder&) = delete;
  AvahiResponder& operator=(const AvahiResponder&) = delete;

  ~AvahiResponder() override {
    if (poll_ != nullptr) {
      avahi_threaded_poll_stop(poll_);
    }
    if (client_ != nullptr) {
      avahi_client_free(client_);  // frees the entry group with it
    }
    if (poll_ != nullptr) {
      avahi_threaded_poll_free(poll_);
    }
  }

  Result<void> start() {
    poll_ = avahi_threaded_poll_new();
    if (poll_ == nullptr) {
      return fail("mDNS daemon: cannot create Avahi's poll");
    }
    // NO_FAIL: a daemon that restarts later gets the service again.
    int error = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                               &AvahiResponder::on_client_state, this, &error);
    if (client_ == nullptr) {
      return fail("mDNS daemon: " + avahi_text(error));
    }
    if (avahi_client_get_state(client_) == AVAHI_CLIENT_CONNECTING) {
      return fail("mDNS daemon: " + avahi_text(AVAHI_ERR_NO_DAEMON));
    }
    if (avahi_threaded_poll_start(poll_) < 0) {
      return fail("mDNS daemon: cannot start Avahi's thread");
    }
    return {};
  }

  Result<void> publish(const ServiceDescription& service) override {
    avahi_threaded_poll_lock(poll_);
    service_ = service;
    Result<void> published;
    if (avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING) {
      published = fill_group(client_);
    }
    avahi_threaded_poll_unlock(poll_);
    return published;
  }

  void withdraw() override {
    // Freeing the group makes the daemon withdraw its records with goodbye
    // packets, so phones drop the receiver at once.
    avahi_threaded_poll_lock(poll_);
    service_.reset();
    free_group();
    avahi_threaded_poll_unlock(poll_);
  }

 private:
  // On Avahi's thread (or during avahi_client_new, before client_ is set).
  static void on_client_state(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<AvahiResponder*>(self)->client_state_changed(client, state);
  }

  static void on_group_state(AvahiEntryGroup*, AvahiEntryGroupState state, void* self) {
    static_cast<AvahiResponder*>(self)->group_state_changed(state);
  }

  void client_state_changed(AvahiClient* client, AvahiClientState state) {
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING:
        if (service_ && (group_ == nullptr || avahi_entry_group_is_empty(group_))) {
          report(fill_group(client));
        }
        break;
      case AVAHI_CLIENT_S_REGISTERING:
      case AVAHI_CLIENT_S_COLLISION:
        // The daemon is settling its own host name; ours follows once it runs.
        if (group_ != nullptr) {
          avahi_entry_group_reset(group_);
        }
        break;
      case AVAHI_CLIENT_CONNECTING:
      case AVAHI_CLIENT_FAILURE:
        // The daemon went away and the group with it; a new one is made
        // when the client runs again.
        free_group();
        break;
    }
  }

  void group_state_changed(AvahiEntryGroupState state) {
    if (state == AVAHI_ENTRY_GROUP_COLLISION && service_) {
      // Another host holds the name: take Avahi's next one ("name-2") for
      // both the instance and the host name, which share the label.
      char* next = avahi_alternative_host_name(service_->label.c_str());
      service_->label = next;
      avahi_free(next);
      service_->host_name = service_->label + ".local";
      platform::write_stderr(
          fmt::format("mDNS: name collision, now advertised as \"{}\"\n", service_->label));
      avahi_entry_group_reset(group_);
      report(fill_group(client_));
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
      report(fail("mDNS register: " + avahi_text(avahi_client_errno(client_))));
    }
  }

  static void report(const Result<void>& result) {
    if (!result) {
      platform::write_stderr(fmt::format("mDNS: {}\n", result.error()));
    }
  }

  // The service and its address records into the (new or emptied) group,
  // then committed. With the poll's lock held or on Avahi's thread.
  Result<void> fill_group(AvahiClient* client) {
    if (group_ == nullptr) {
      group_ = avahi_entry_group_new(client, &AvahiResponder::on_group_state, this);
      if (group_ == nullptr) {
        return fail("mDNS register: " + avahi_text(avahi_client_errno(client)));
      }
    }
    const std::string txt = fmt::format("{}={}", kTxtKey, kTxtValue);
    int error = avahi_entry_group_add_service(
        group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
        service_->label.c_str(), kServiceType, nullptr, service_->host_name.c_str(), kServicePort,
        txt.c_str(), nullptr);
    if (error < 0) {
      avahi_entry_group_reset(group_);
      return fail("service info: " + avahi_text(error));
    }
    // The daemon already answers for its own host name; records of ours for
    // the same name would collide with its own.
    const char* own_host = avahi_client_get_host_name_fqdn(client);
    const bool own_name =
        own_host != nullptr && strcasecmp(own_host, service_->host_name.c_str()) == 0;
    for (const Ipv4Address& address : own_name ? std::vector<Ipv4Address>{} : service_->addresses) {
      AvahiAddress record{};
      record.proto = AVAHI_PROTO_INET;
      std::memcpy(&record.data.ipv4.address, address.data(), 4);
      // NO_REVERSE: the daemon owns the reverse records of the machine's addresses.
      error = avahi_entry_group_add_address(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                            AVAHI_PUBLISH_NO_REVERSE, service_->host_name.c_str(),
                                            &record);
      if (error < 0) {
        avahi_entry_group_reset(group_);
        return fail(
            fmt::format("service info: address {}: {}", dotted_quad(address), avahi_text(error)));
      }
    }
    error = avahi_entry_group_commit(group_);
    if (error < 0) {
      avahi_entry_group_reset(group_);
      return fail("mDNS register: " + avahi_text(error));
    }
    return {};
  }

  void free_group() {
    if (group_ != nullptr) {
      avahi_entry_group_free(group_);
      group_ = nullptr;
    }
  }

  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  // Both below: under the poll's lock or on Avahi's thread.
  AvahiEntryGroup* group_ = nullptr;
  std::optional<ServiceDescription> service_;  // absent before publish and after withdraw
};

}  // namespace

Result<std::unique_ptr<Responder>> start_responder() {
  auto responder = std::make_unique<AvahiResponder>();
  if (auto started = responder->start(); !started) {
    return fail(started.error());
  }
  return std::unique_ptr<Responder>(std::move(responder));
}

std::string_view responder_missing_text() {
  return "avahi-daemon does not answer on the system bus: start it (sudo systemctl enable --now "
         "avahi-daemon), or type this PC's address into the phone's app";
}

}  // namespace korvex::discovery
