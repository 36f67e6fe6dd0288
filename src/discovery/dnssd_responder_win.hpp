#pragma once

// The responder over dnsapi.dll's DNS-SD functions (Windows 10 1903 and
// later). They are looked up at run time through a lookup function, which is
// GetProcAddress on dnsapi.dll in the program and a fake in the tests.

#include <windows.h>
// windows.h must come first.
#include <windns.h>

#include <chrono>
#include <functional>
#include <memory>

#include "common/result.hpp"
#include "discovery/responder.hpp"

namespace korvex::discovery {

// winerror.h's answer of an asynchronous DNS-SD call that has started; MinGW
// lacks it.
inline constexpr DWORD kDnsRequestPending = 9506;

using DnsServiceConstructInstanceFn = decltype(&DnsServiceConstructInstance);
using DnsServiceRegisterFn = decltype(&DnsServiceRegister);
using DnsServiceDeRegisterFn = decltype(&DnsServiceDeRegister);
using DnsServiceFreeInstanceFn = decltype(&DnsServiceFreeInstance);

struct DnsSdFunctions {
  DnsServiceConstructInstanceFn construct_instance = nullptr;
  DnsServiceRegisterFn register_service = nullptr;
  DnsServiceDeRegisterFn deregister_service = nullptr;
  DnsServiceFreeInstanceFn free_instance = nullptr;
};

// Null when the name is not exported.
using FunctionLookup = std::function<FARPROC(const char* name)>;

inline constexpr std::chrono::milliseconds kRegisterWait{2000};
inline constexpr std::chrono::milliseconds kDeregisterWait{500};

// Looks up all four functions before any is called: some systems export
// only some of them, as stubs that end the process when called.
Result<DnsSdFunctions> resolve_dnssd_functions(const FunctionLookup& lookup);

std::unique_ptr<Responder> make_dnssd_responder(const DnsSdFunctions& functions);

}  // namespace korvex::discovery
