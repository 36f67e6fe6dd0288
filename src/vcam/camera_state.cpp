#include "vcam/camera_state.hpp"

namespace korvex::vcam {

std::string_view state_text(CameraState state) {
  switch (state) {
    case CameraState::registered:
      return "registered";
    case CameraState::streaming:
      return "streaming";
    case CameraState::lost:
      return "lost";
  }
  return "lost";
}

CameraState after(CameraState state, CameraEvent event) {
  if (state == CameraState::lost) {
    return state;
  }
  switch (event) {
    case CameraEvent::source_started:
      return CameraState::streaming;
    case CameraEvent::source_stopped:
    case CameraEvent::source_uninitialized:
      return CameraState::registered;
    case CameraEvent::pipeline_shut_down:
    case CameraEvent::error:
      return CameraState::lost;
    case CameraEvent::source_initialized:
    case CameraEvent::other:
      break;
  }
  return state;
}

}  // namespace korvex::vcam
