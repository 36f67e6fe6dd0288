#include "media_source/dll_use_win.hpp"

#include <atomic>

namespace korvex::media_source {
namespace {

std::atomic<long> uses{0};

}  // namespace

void add_dll_use() {
  uses.fetch_add(1);
}

void remove_dll_use() {
  uses.fetch_sub(1);
}

bool dll_in_use() {
  return uses.load() != 0;
}

}  // namespace korvex::media_source
