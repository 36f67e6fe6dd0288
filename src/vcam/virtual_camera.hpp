#pragma once

namespace korvex::vcam {

// Removes the virtual camera from the system if one is registered. Safe from
// any thread, including the console event handler's.
void shutdown_virtual_camera();

}  // namespace korvex::vcam
