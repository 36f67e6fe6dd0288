#pragma once

// Media Foundation, started once per process for the decoder, the virtual
// camera and the camera diagnostics alike.

#include "common/result.hpp"

namespace korvex::decoder {

// The first call runs MFStartup; every call, from any thread, returns that
// outcome ("MFStartup: {}" on failure). Concurrent first calls wait for it.
// Media Foundation is never shut down.
Result<void> ensure_media_foundation();

}  // namespace korvex::decoder
