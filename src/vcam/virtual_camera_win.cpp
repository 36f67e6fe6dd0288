// The camera over Media Foundation's virtual camera (Windows 11). The
// function that creates it is looked up at run time, so the receiver still
// starts, with audio, on Windows 10.

#include <windows.h>
// windows.h must come first.
#include <objbase.h>
#include <wrl/client.h>

#include <string>
#include <utility>

#include <fmt/format.h>

#include "decoder/media_foundation_win.hpp"
#include "platform/hresult_win.hpp"
#include "platform/system_text_win.hpp"
#include "vcam/camera_events_win.hpp"
#include "vcam/mf_virtual_camera_win.hpp"
#include "vcam/registration_failure.hpp"
#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {

const std::string_view kSourceId = "{F4467B1E-EB18-459B-87C2-42D42266FDEB}";

namespace {

using Microsoft::WRL::ComPtr;

// COM's multithreaded apartment on the calling thread; the result does not
// matter (the thread may be in it already).
void enter_camera_apartment() {
  (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

class MfVirtualCamera final : public Camera {
 public:
  MfVirtualCamera(ComPtr<IMFVirtualCamera> camera, ComPtr<CameraEvents> events)
      : camera_(std::move(camera)), events_(std::move(events)) {}

  Result<void> start() override {
    const HRESULT hr = camera_->Start(events_.Get());
    if (FAILED(hr)) {
      return fail(registration_failure("IMFVirtualCamera::Start", static_cast<uint32_t>(hr),
                                       platform::hresult_text(hr)));
    }
    return {};
  }

  // The caller may be the console event handler's own thread: COM is entered
  // there only when a camera is to be removed, so an exit without one touches
  // nothing of COM.
  void shutdown() override {
    enter_camera_apartment();
    (void)camera_->Shutdown();
  }

  CameraState state() const override { return events_->state(); }

 private:
  ComPtr<IMFVirtualCamera> camera_;
  ComPtr<CameraEvents> events_;  // the camera service's reports on it
};

// The camera service of ARM64 Windows is an ARM64 process: it cannot load the
// x64 KorvexSource.dll, so a camera registered there would never show a
// picture. IsWow64Process2 exists from Windows 10 1709 on.
bool on_arm64_windows() {
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const auto is_wow64_process2 =
      reinterpret_cast<IsWow64Process2Function>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT process = 0;
  USHORT native = 0;
  return is_wow64_process2 != nullptr &&
         is_wow64_process2(GetCurrentProcess(), &process, &native) &&
         native == IMAGE_FILE_MACHINE_ARM64;
}

// Null when the system has no virtual cameras. The library is never freed:
// the camera's code runs from it until the process ends.
MFCreateVirtualCameraFunction find_create_virtual_camera() {
  const HMODULE library = LoadLibraryW(L"mfsensorgroup.dll");
  if (library == nullptr) {
    return nullptr;
  }
  // Through void (*)(), which converts to any function pointer without a warning.
  return reinterpret_cast<MFCreateVirtualCameraFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "MFCreateVirtualCamera")));
}

}  // namespace

Result<std::unique_ptr<Camera>> register_virtual_camera() {
  if (auto started = decoder::ensure_media_foundation(); !started) {
    return fail(started.error());
  }
  enter_camera_apartment();
  const MFCreateVirtualCameraFunction create = find_create_virtual_camera();
  if (create == nullptr) {
    return fail("Windows 11 (build 22000+) is required for the Korvex camera; audio still works");
  }

  if (on_arm64_windows()) {
    return fail(
        "the Korvex camera needs x64 Windows: the camera service of ARM64 Windows cannot load the "
        "x64 KorvexSource.dll; audio still works");
  }

  const std::wstring name = platform::utf8_to_utf16(kCameraName);
  const std::wstring source = platform::utf8_to_utf16(kSourceId);
  ComPtr<IMFVirtualCamera> camera;
  const HRESULT hr = create(MFVirtualCameraType_SoftwareCameraSource,
                            MFVirtualCameraLifetime_Session, MFVirtualCameraAccess_CurrentUser,
                            name.c_str(), source.c_str(), nullptr, 0, camera.GetAddressOf());
  if (FAILED(hr)) {
    return fail(registration_failure("MFCreateVirtualCamera", static_cast<uint32_t>(hr),
                                     platform::hresult_text(hr)));
  }
  if (!camera) {
    return fail("MFCreateVirtualCamera returned no object");
  }
  ComPtr<CameraEvents> events = CameraEvents::create();
  if (!events) {
    return platform::step_failure("the camera's callback", E_OUTOFMEMORY);
  }
  return start_camera(std::make_unique<MfVirtualCamera>(std::move(camera), std::move(events)));
}

}  // namespace korvex::vcam
