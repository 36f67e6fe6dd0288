#pragma once

// Windows-only helpers for turning system codes into the program's error texts.

#include <windows.h>

#include <string>

namespace korvex::platform {

// The system's message for a Win32, Winsock or HRESULT code, without the
// trailing line break; empty when the system has none.
std::string system_message(DWORD code);

// `text` without the white space (spaces, tabs, line breaks) at its end.
std::string trim_right(std::string text);

std::string utf16_to_utf8(const wchar_t* text, int length = -1);
std::wstring utf8_to_utf16(std::string_view text);

}  // namespace korvex::platform
