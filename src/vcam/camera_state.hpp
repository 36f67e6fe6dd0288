#pragma once

// What the system says of a registered camera, and what that makes of it.
// Windows reports through the callback given to IMFVirtualCamera::Start:
// applications opening, starting and stopping the camera, and the camera
// service taking the camera's pipeline down, after which the camera is dead
// until it is registered again.

#include <string_view>

namespace korvex::vcam {

enum class CameraState {
  registered,  // visible to applications, none streaming from it
  streaming,   // an application streams from it
  lost,        // its pipeline is gone: it must be registered again
};

// The status line's text: "registered", "streaming" or "lost".
std::string_view state_text(CameraState state);

enum class CameraEvent {
  source_initialized,    // an application opened the camera
  source_started,        // ... and started streaming
  source_stopped,        // every stream stopped
  source_uninitialized,  // the application let the camera go
  pipeline_shut_down,    // the camera service took the pipeline down
  error,                 // the pipeline failed
  other,                 // a custom or unknown event
};

// A lost camera stays lost whatever comes after: only registering it again
// brings it back.
CameraState after(CameraState state, CameraEvent event);

}  // namespace korvex::vcam
