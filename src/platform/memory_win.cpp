#include "platform/memory.hpp"

namespace korvex::platform {

// The Windows heap already commits large blocks on their own and releases
// them when they are freed.
void return_large_blocks_to_system() {}

}  // namespace korvex::platform
