#pragma once

// The COM class of the camera's media source, as the virtual camera
// registration names it.

#include <windows.h>

namespace korvex::media_source {

// {F4467B1E-EB18-459B-87C2-42D42266FDEB}
inline constexpr CLSID kSourceClsid = {
    0xF4467B1E, 0xEB18, 0x459B, {0x87, 0xC2, 0x42, 0xD4, 0x22, 0x66, 0xFD, 0xEB}};

inline constexpr wchar_t kSourceFriendlyName[] = L"Korvex Camera Source";

}  // namespace korvex::media_source
