#pragma once

namespace korvex::platform {

// Makes freed blocks of a quarter megabyte and more go back to the system at
// once, whichever thread freed them: the receiver runs for days, and a peer's
// large messages must not leave it holding their memory afterwards.
void return_large_blocks_to_system();

}  // namespace korvex::platform
