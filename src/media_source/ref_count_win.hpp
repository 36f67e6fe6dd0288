#pragma once

// The reference count of one of the DLL's COM objects. It starts at zero:
// the creator's first ComPtr takes the first reference (MinGW's
// ComPtr::Attach adds one too, so creators never use it). The object deletes
// itself when Release brings the count back to zero; while it lives it keeps
// the DLL in use.

#include <windows.h>

#include <atomic>

#include "media_source/dll_use_win.hpp"

namespace korvex::media_source {

class RefCount {
 public:
  ULONG add() { return refs_.fetch_add(1) + 1; }

  // The count left; at zero the caller deletes the object.
  ULONG remove() { return refs_.fetch_sub(1) - 1; }

  // A new reference only while the count has not reached zero: how a holder
  // of a plain pointer turns it into a reference without racing the last
  // Release.
  bool add_if_alive() {
    ULONG refs = refs_.load();
    while (refs != 0) {
      if (refs_.compare_exchange_weak(refs, refs + 1)) {
        return true;
      }
    }
    return false;
  }

 private:
  std::atomic<ULONG> refs_{0};
  DllUse dll_use_;
};

}  // namespace korvex::media_source
