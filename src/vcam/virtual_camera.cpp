#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {

// This build registers no virtual camera, so there is nothing to remove.
void shutdown_virtual_camera() {}

}  // namespace korvex::vcam
