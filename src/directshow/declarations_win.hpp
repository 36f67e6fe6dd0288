#pragma once

// DirectShow classes that MinGW's headers name without defining: qedit's
// Sample Grabber and Null Renderer (the grabber's interfaces are in qedit.h).

#include <windows.h>

namespace korvex::directshow {

inline constexpr CLSID kSampleGrabberClsid = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
inline constexpr CLSID kNullRendererClsid = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

}  // namespace korvex::directshow
