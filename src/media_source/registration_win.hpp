#pragma once

// The source's class in the registry, for the frame server to find the DLL:
//
//   HKLM\Software\Classes\CLSID\{F4467B1E-...}     (default) = friendly name
//     InprocServer32                               (default) = this DLL's full path
//                                                  ThreadingModel = "Both"
//
// always in the 64-bit view, as the DLL is 64-bit.

#include <windows.h>

namespace korvex::media_source {

HRESULT register_source_class();

// Removes the class key and everything under it; S_OK when it was not there.
HRESULT unregister_source_class();

}  // namespace korvex::media_source
