// Linux has no DirectShow: its camera is the PipeWire node.

#include "vcam/directshow_camera.hpp"

namespace korvex::vcam {

bool offered_to_directshow() {
  return false;
}

}  // namespace korvex::vcam
