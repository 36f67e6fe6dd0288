#pragma once

// The DLL's use count: every live COM object and every IClassFactory lock.
// DllCanUnloadNow lets the system unload the DLL only at zero.

namespace korvex::media_source {

void add_dll_use();
void remove_dll_use();
bool dll_in_use();

// Held by each COM object for its whole life.
class DllUse {
 public:
  DllUse() { add_dll_use(); }
  ~DllUse() { remove_dll_use(); }
  DllUse(const DllUse&) = delete;
  DllUse& operator=(const DllUse&) = delete;
};

}  // namespace korvex::media_source
