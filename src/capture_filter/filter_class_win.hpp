#pragma once

// The DirectShow camera's COM class, and the name programs list it under.

#include <windows.h>

namespace korvex::capture_filter {

// {DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}
inline constexpr CLSID kFilterClsid = {
    0xDF38157C, 0xC0F1, 0x4D8F, {0x9A, 0x5A, 0xA1, 0x71, 0xD4, 0xE6, 0xAA, 0x5C}};
inline constexpr wchar_t kFilterName[] = L"Korvex";
inline constexpr wchar_t kPinName[] = L"Capture";

}  // namespace korvex::capture_filter
