#pragma once

// The system's mDNS responder, as the receiver uses it: dnsapi.dll's DNS-SD
// functions on Windows, the Avahi daemon on Linux. The responder runs on its
// own thread; the receiver only hands it one service and takes it back.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "discovery/address_filter.hpp"

namespace korvex::discovery {

inline constexpr const char* kServiceType = "_korvex._tcp";
// The listener's TCP port (server::kPhonePort; main checks they agree).
inline constexpr uint16_t kServicePort = 45334;
// The one TXT property: the stream format's version.
inline constexpr const char* kTxtKey = "v";
inline constexpr const char* kTxtValue = "1";

struct ServiceDescription {
  std::string label;                   // instance name, and the first label of the host name
  std::string host_name;               // label + ".local"
  std::vector<Ipv4Address> addresses;  // at least one
};

class Responder {
 public:
  virtual ~Responder() = default;
  // Registers the service; errors read "service info: {}" or "mDNS register: {}".
  virtual Result<void> publish(const ServiceDescription& service) = 0;
  // Takes the service back so that phones forget it at once, not when the
  // records expire. Called once, on the way out of the process.
  virtual void withdraw() = 0;
};

// Connects to the system's responder; fails with "mDNS daemon: {}".
Result<std::unique_ptr<Responder>> start_responder();

// What start_responder's failure means on this system, and the fix.
std::string_view responder_missing_text();

}  // namespace korvex::discovery
