#pragma once

// Windows 11's virtual camera interface (the SDK's mfvirtualcamera.h), which
// MinGW's headers lack. Only Start and Shutdown are called, but every method
// is declared in the system's order so that those two land in the right
// vtable slots.

#include <windows.h>
// windows.h must come first.
#include <devpropdef.h>
#include <mfidl.h>
#include <mfobjects.h>

// Only the values the receiver passes.
enum MFVirtualCameraType { MFVirtualCameraType_SoftwareCameraSource = 0 };
enum MFVirtualCameraLifetime { MFVirtualCameraLifetime_Session = 0 };
enum MFVirtualCameraAccess { MFVirtualCameraAccess_CurrentUser = 0 };

struct IMFCameraSyncObject;

MIDL_INTERFACE("1C08A864-EF6C-4C75-AF59-5F2D68DA9563")
IMFVirtualCamera : public IMFAttributes {
  virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR device_source_info) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddProperty(const DEVPROPKEY* key, DEVPROPTYPE type,
                                                const BYTE* data, ULONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(
      LPCWSTR entry_name, LPCWSTR subkey_path, DWORD reg_type, const BYTE* data, ULONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback * callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource * *source) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(
      REFGUID property_set, ULONG property_id, ULONG property_flags, void* payload,
      ULONG payload_size, void* data, ULONG data_size, ULONG* data_written) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID event_set, ULONG event_id,
                                                    ULONG event_flags, HANDLE event,
                                                    IMFCameraSyncObject * *sync_object) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(
      REFGUID event_set, ULONG event_id, ULONG event_flags, HANDLE semaphore, LONG adjustment,
      IMFCameraSyncObject * *sync_object) = 0;
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
__CRT_UUID_DECL(IMFVirtualCamera, 0x1C08A864, 0xEF6C, 0x4C75, 0xAF, 0x59, 0x5F, 0x2D, 0x68, 0xDA,
                0x95, 0x63)

// MFCreateVirtualCamera, exported by mfsensorgroup.dll from Windows 11
// (build 22000) on.
using MFCreateVirtualCameraFunction = HRESULT(WINAPI*)(MFVirtualCameraType type,
                                                       MFVirtualCameraLifetime lifetime,
                                                       MFVirtualCameraAccess access,
                                                       LPCWSTR friendly_name, LPCWSTR source_id,
                                                       const GUID* categories, ULONG category_count,
                                                       IMFVirtualCamera** camera);
