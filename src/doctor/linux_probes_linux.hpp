#pragma once

// The Linux system's sound servers, asked directly.

#include "common/result.hpp"
#include "doctor/linux_system.hpp"

namespace korvex::doctor {

// The user's PipeWire server's nodes, metadata and clients. Fails with
// "PipeWire: {cause}".
Result<PipeWireState> read_pipewire_state();

// The PulseAudio server's name and version, within 2 s.
Result<PulseServer> read_pulse_server();

}  // namespace korvex::doctor
