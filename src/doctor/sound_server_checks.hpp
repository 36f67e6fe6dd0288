#pragma once

// The Linux sound servers the receiver's camera and microphone live on.

#include "common/result.hpp"
#include "doctor/linux_system.hpp"
#include "doctor/report.hpp"

namespace korvex::doctor {

// node.name of the receiver's PipeWire camera and microphone.
inline constexpr std::string_view kCameraNode = "korvex-camera";
inline constexpr std::string_view kMicrophoneNode = "korvex-microphone";

Finding check_pipewire(const Result<PipeWireState>& pipewire);

// PipeWire without a session manager links nothing to anything. Only for a
// server that answers.
Finding check_session_manager(const PipeWireState& pipewire);

// Programs that record through PulseAudio see the microphone only through
// PipeWire's PulseAudio server.
Finding check_pulse(bool pipewire_answers, const Result<PulseServer>& pulse);

// The receiver's camera and microphone nodes, while a receiver runs.
Finding check_receiver_nodes(const PipeWireState& pipewire);

}  // namespace korvex::doctor
