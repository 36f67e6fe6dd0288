#include "discovery/dnssd_responder_win.hpp"

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

#include "platform/system_text_win.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::discovery {
namespace {

// The system's DNS-SD status texts, for the two calls' failures.
std::string status_text(DWORD status) {
  const std::string message = platform::system_message(status);
  return message.empty() ? fmt::format("status {}", status)
                         : fmt::format("{} (status {})", message, status);
}

// What one asynchronous call reports through its completion callback.
struct Completion {
  explicit Completion(DnsServiceFreeInstanceFn free) : free_instance(free) {}

  DnsServiceFreeInstanceFn free_instance;  // for the instance the callback is given
  platform::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  DWORD status = ERROR_SUCCESS;  // written by the callback before `done` is set

  // Waits for the callback; false when it has not come in time.
  bool wait(std::chrono::milliseconds limit) const {
    return done &&
           WaitForSingleObject(done.get(), static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
  }
};

class DnsSdResponder final : public Responder {
 public:
  explicit DnsSdResponder(const DnsSdFunctions& functions)
      : f_(functions), registered_(f_.free_instance), deregistered_(f_.free_instance) {}

  ~DnsSdResponder() override {
    // An instance the system may still call back about is left alone: the
    // process is about to end.
    if (instance_ != nullptr && !call_outstanding_) {
      f_.free_instance(instance_);
    }
  }

  Result<void> publish(const ServiceDescription& service) override {
    const std::wstring instance_name =
        platform::utf8_to_utf16(service.label + "." + kServiceType + ".local");
    const std::wstring host_name = platform::utf8_to_utf16(service.host_name);
    // The API carries one IPv4 address per instance, so the first kept one
    // goes in. When the label is the computer's own name, which it is unless
    // the name had characters the label replaces, the system's responder
    // answers that host name with the addresses of every adapter anyway.
    IP4_ADDRESS address = 0;
    static_assert(sizeof(address) == 4);
    std::memcpy(&address, service.addresses.front().data(), 4);  // network order
    const std::wstring key = platform::utf8_to_utf16(kTxtKey);
    const std::wstring value = platform::utf8_to_utf16(kTxtValue);
    PCWSTR keys[] = {key.c_str()};
    PCWSTR values[] = {value.c_str()};

    instance_ = f_.construct_instance(instance_name.c_str(), host_name.c_str(), &address, nullptr,
                                      kServicePort, 0, 0, 1, keys, values);
    if (instance_ == nullptr) {
      return fail("service info: DnsServiceConstructInstance: " + status_text(GetLastError()));
    }

    request_.Version = DNS_QUERY_REQUEST_VERSION1;
    request_.InterfaceIndex = 0;  // every interface
    request_.pServiceInstance = instance_;
    request_.pRegisterCompletionCallback = &on_complete;
    request_.pQueryContext = &registered_;
    request_.hCredentials = nullptr;
    request_.unicastEnabled = FALSE;  // mDNS only
    return run(f_.register_service, registered_, kRegisterWait, "mDNS register");
  }

  void withdraw() override {
    if (instance_ == nullptr || call_outstanding_) {
      return;
    }
    request_.pQueryContext = &deregistered_;
    (void)run(f_.deregister_service, deregistered_, kDeregisterWait, "mDNS deregister");
  }

 private:
  static VOID WINAPI on_complete(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    auto* completion = static_cast<Completion*>(context);
    if (instance != nullptr) {
      completion->free_instance(instance);  // the system's copy, given to the caller
    }
    completion->status = status;
    SetEvent(completion->done.get());
  }

  // Starts the call and waits for its completion callback.
  Result<void> run(DWORD(WINAPI* call)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL),
                   Completion& completion, std::chrono::milliseconds limit, const char* step) {
    if (!completion.done) {
      return fail(fmt::format("{}: CreateEvent: {}", step, status_text(GetLastError())));
    }
    const DWORD started = call(&request_, nullptr);
    if (started != kDnsRequestPending) {
      return fail(fmt::format("{}: {}", step, status_text(started)));
    }
    if (!completion.wait(limit)) {
      call_outstanding_ = true;
      return fail(
          fmt::format("{}: no answer from the DNS-SD responder within {} ms", step, limit.count()));
    }
    if (completion.status != ERROR_SUCCESS) {
      return fail(fmt::format("{}: {}", step, status_text(completion.status)));
    }
    return {};
  }

  DnsSdFunctions f_;
  PDNS_SERVICE_INSTANCE instance_ = nullptr;
  DNS_SERVICE_REGISTER_REQUEST request_{};
  Completion registered_;
  Completion deregistered_;
  // Set when a call timed out: the system may still write to the request and
  // to the completions, so they must outlive it.
  bool call_outstanding_ = false;
};

}  // namespace

Result<DnsSdFunctions> resolve_dnssd_functions(const FunctionLookup& lookup) {
  // Through void (*)(), which converts to any function pointer without a warning.
  const auto find = [&](const char* name, auto& slot) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        reinterpret_cast<void (*)()>(lookup(name)));
    return slot != nullptr;
  };
  DnsSdFunctions f;
  const bool all = find("DnsServiceConstructInstance", f.construct_instance) &
                   find("DnsServiceRegister", f.register_service) &
                   find("DnsServiceDeRegister", f.deregister_service) &
                   find("DnsServiceFreeInstance", f.free_instance);
  if (!all) {
    return fail(
        "mDNS daemon: this system has no DNS-SD responder (dnsapi.dll lacks the DnsService "
        "functions of Windows 10 version 1903 and later)");
  }
  return f;
}

std::unique_ptr<Responder> make_dnssd_responder(const DnsSdFunctions& functions) {
  return std::make_unique<DnsSdResponder>(functions);
}

}  // namespace korvex::discovery
