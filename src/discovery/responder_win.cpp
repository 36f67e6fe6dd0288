#include <windows.h>

#include "discovery/dnssd_responder_win.hpp"
#include "discovery/responder.hpp"

namespace korvex::discovery {

Result<std::unique_ptr<Responder>> start_responder() {
  // Never freed: the system's responder calls back into it until the process ends.
  const HMODULE dnsapi = LoadLibraryW(L"dnsapi.dll");
  auto functions = resolve_dnssd_functions([dnsapi](const char* name) -> FARPROC {
    return dnsapi == nullptr ? nullptr : GetProcAddress(dnsapi, name);
  });
  if (!functions) {
    return fail(functions.error());
  }
  return make_dnssd_responder(functions.value());
}

std::string_view responder_missing_text() {
  return "this Windows has no DNS-SD responder (Windows 10 1903 and later have one): update "
         "Windows, or type this PC's address into the phone's app";
}

}  // namespace korvex::discovery
