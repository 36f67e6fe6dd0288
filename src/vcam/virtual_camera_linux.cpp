#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {

Result<std::unique_ptr<Camera>> register_virtual_camera() {
  return fail("this build has no virtual camera yet");
}

}  // namespace korvex::vcam
