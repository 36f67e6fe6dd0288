#pragma once

// The callback IMFVirtualCamera::Start is given. The camera service calls
// it, on threads of its own, with an event for each change of the camera:
// applications opening, starting and stopping it, and the camera's
// pipeline going away. It keeps what that makes of the camera's state.

#include <windows.h>
// windows.h must come first.
#include <mfobjects.h>
#include <wrl/client.h>

#include <atomic>

#include "vcam/camera_state.hpp"

namespace korvex::vcam {

// What a camera service event says (MEExtendedType with the
// MF_FRAMESERVER_VCAMEVENT_EXTENDED_* types, or MEError).
CameraEvent camera_event(IMFMediaEvent* event);

class CameraEvents final : public IMFAsyncCallback {
 public:
  // Null when memory runs out.
  static Microsoft::WRL::ComPtr<CameraEvents> create();

  CameraState state() const { return state_.load(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IMFAsyncCallback
  STDMETHODIMP GetParameters(DWORD* flags, DWORD* queue) override;
  STDMETHODIMP Invoke(IMFAsyncResult* result) override;

 private:
  CameraEvents() = default;
  ~CameraEvents() = default;

  std::atomic<ULONG> refs_{1};
  std::atomic<CameraState> state_{CameraState::registered};
};

}  // namespace korvex::vcam
