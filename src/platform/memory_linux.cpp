#include <malloc.h>

#include "platform/memory.hpp"

namespace korvex::platform {

void return_large_blocks_to_system() {
  // glibc raises its mmap threshold to the size of the largest block freed so
  // far, up to 32 MiB; after one large message every later one comes from
  // the arenas, which keep it once freed (one arena per connection thread).
  // A fixed threshold keeps large blocks in mappings of their own.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

}  // namespace korvex::platform
