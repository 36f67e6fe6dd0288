#include <windows.h>

#include "doctor/checks.hpp"
#include "doctor/machine_answers.hpp"
#include "doctor/windows_probes_win.hpp"

namespace korvex::doctor {
namespace {

// KorvexSource.dll's class, and the DirectShow filter "Korvex" in the video
// input device category.
constexpr CLSID kSourceClass = {
    0xF4467B1E, 0xEB18, 0x459B, {0x87, 0xC2, 0x42, 0xD4, 0x22, 0x66, 0xFD, 0xEB}};
const std::wstring kSourceKey = L"Software\\Classes\\CLSID\\{F4467B1E-EB18-459B-87C2-42D42266FDEB}";
const std::wstring kFilterKey = L"Software\\Classes\\CLSID\\{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}";
const std::wstring kFilterInstanceKey =
    L"Software\\Classes\\CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\"
    L"{DF38157C-C0F1-4D8F-9A5A-A171D4E6AA5C}";
const std::wstring kWebcamConsentKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\CapabilityAccessManager\\ConsentStore\\webcam";

// An InprocServer32 path as registered, without the quotes some installers add.
std::optional<std::string> server_of(const std::wstring& class_key, REGSAM view) {
  auto path = registry_string(HKEY_LOCAL_MACHINE, class_key + L"\\InprocServer32", nullptr, view);
  if (path && path->size() >= 2 && path->front() == '"' && path->back() == '"') {
    *path = path->substr(1, path->size() - 2);
  }
  return path;
}

class ThisWindows final : public MachineAnswers<WindowsSystem> {
 public:
  FirewallState firewall() override { return read_firewall(); }

  SourceState camera_source() override {
    SourceState state;
    state.server = server_of(kSourceKey, KEY_WOW64_64KEY);
    state.server_exists = state.server && file_exists(*state.server);
    if (state.server_exists) {
      state.media_types = load_source_media_types(kSourceClass);
    }
    return state;
  }

  CameraFacility camera_facility() override {
    CameraFacility facility;
    if (HMODULE sensors =
            LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      facility.virtual_camera = GetProcAddress(sensors, "MFCreateVirtualCamera") != nullptr;
      FreeLibrary(sensors);
    }
    if (registry_key_exists(HKEY_LOCAL_MACHINE, kFilterInstanceKey)) {
      facility.filter_server = server_of(kFilterKey, KEY_WOW64_64KEY);
    }
    facility.filter_server_exists = facility.filter_server && file_exists(*facility.filter_server);
    facility.filter_for_32_bit =
        registry_key_exists(HKEY_LOCAL_MACHINE, kFilterInstanceKey, KEY_WOW64_32KEY);
    return facility;
  }

  CameraConsent camera_consent() override {
    CameraConsent consent;
    consent.device = registry_string(HKEY_LOCAL_MACHINE, kWebcamConsentKey, L"Value");
    consent.apps = registry_string(HKEY_CURRENT_USER, kWebcamConsentKey, L"Value");
    consent.desktop_apps =
        registry_string(HKEY_CURRENT_USER, kWebcamConsentKey + L"\\NonPackaged", L"Value");
    return consent;
  }
};

}  // namespace

void check_this_system(Report& report) {
  ThisWindows system;
  check_windows(system, report);
}

}  // namespace korvex::doctor
