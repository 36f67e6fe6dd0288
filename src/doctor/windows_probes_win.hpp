#pragma once

// The Windows system's answers that need Windows' own interfaces: the
// firewall's policy, the registry, COM.

#include <windows.h>

#include <optional>
#include <string>

#include "doctor/windows_system.hpp"

namespace korvex::doctor {

// Windows Firewall's state through INetFwPolicy2.
FirewallState read_firewall();

// A string value of `key` under `root` (`value` null: the key's default
// value), read in the registry view `view` (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY); none when the key or the value is missing.
std::optional<std::string> registry_string(HKEY root, const std::wstring& key, const wchar_t* value,
                                           REGSAM view = KEY_WOW64_64KEY);
bool registry_key_exists(HKEY root, const std::wstring& key, REGSAM view = KEY_WOW64_64KEY);

// Whether a file is at `path` (UTF-8).
bool file_exists(const std::string& path);

// The source made from the class `clsid` as a camera program's pipeline makes
// it (CoCreateInstance, then activation), and its media types.
Result<std::vector<std::string>> load_source_media_types(const CLSID& clsid);

}  // namespace korvex::doctor
