#pragma once

// DllRegisterServer's work: the filter's COM class in the registry view of
// the DLL's own bitness (a 32-bit DLL lands in WOW6432Node, where 32-bit
// programs look), then the filter in the video input device category, where
// DirectShow programs enumerate cameras.

#include <windows.h>

namespace korvex::capture_filter {

HRESULT register_filter();
// Removes both; what is not there is not an error.
HRESULT unregister_filter();

}  // namespace korvex::capture_filter
