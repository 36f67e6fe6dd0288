#pragma once

// The class factory DllGetClassObject hands out for the filter's class.

#include <windows.h>
// windows.h must come first.
#include <unknwn.h>

#include "capture_filter/com_object_win.hpp"

namespace korvex::capture_filter {

class FilterFactory final : public ComObject<IClassFactory> {
 public:
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;
};

}  // namespace korvex::capture_filter
