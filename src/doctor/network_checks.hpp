#pragma once

// What the phone needs to find the PC and connect to it, on both platforms.

#include <vector>

#include "common/result.hpp"
#include "doctor/report.hpp"
#include "platform/interface_addresses.hpp"
#include "platform/listening_processes.hpp"

namespace korvex::doctor {

// The system's mDNS responder, through which phones find the PC.
Finding check_discovery(const Result<void>& responder);

// The addresses a phone on the same network can reach.
Finding check_addresses(const Result<std::vector<platform::InterfaceAddress>>& addresses);

// Whether the receiver can listen on TCP 45334, or already does.
Finding check_port(const Result<std::vector<platform::ListeningProcess>>& listeners);

}  // namespace korvex::doctor
