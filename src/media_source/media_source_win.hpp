#pragma once

// The Korvex camera's media source: one live video stream whose pictures
// come from the frame section. Made by the class factory or the activate
// object and driven by the Windows frame server (or any Media Foundation
// client) from several threads at once.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <mfobjects.h>
#include <wrl/client.h>
// MinGW declares the C++ IKsControl here; its kernel-streaming headers clash
// with DirectShow's unless they come after mfidl.h.
#include <devicetopology.h>

#include "media_source/frame_server_declarations_win.hpp"
#include "media_source/media_stream_win.hpp"
#include "media_source/ref_count_win.hpp"
#include "media_source/slim_lock_win.hpp"
#include "section/section_hold.hpp"

namespace korvex::media_source {

class MediaSource final : public IMFMediaSourceEx,
                          public IMFGetService,
                          public IKsControl,
                          public IMFSampleAllocatorControl {
 public:
  // A stopped source whose attributes start as a copy of `attributes` (may be
  // null). Its stream holds `section` from now until the source shuts down.
  static HRESULT create(IMFAttributes* attributes, std::shared_ptr<section::SectionHold> section,
                        Microsoft::WRL::ComPtr<MediaSource>& out);

  // A reference for the stream, unless the last one is already gone.
  bool add_ref_if_alive() { return refs_.add_if_alive(); }

  bool is_shut_down();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  // IMFMediaEventGenerator
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended_type, HRESULT status,
                          const PROPVARIANT* value) override;

  // IMFMediaSource
  STDMETHODIMP GetCharacteristics(DWORD* characteristics) override;
  STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
  STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* time_format,
                     const PROPVARIANT* start_position) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Shutdown() override;

  // IMFMediaSourceEx
  STDMETHODIMP GetSourceAttributes(IMFAttributes** attributes) override;
  STDMETHODIMP GetStreamAttributes(DWORD stream_id, IMFAttributes** attributes) override;
  STDMETHODIMP SetD3DManager(IUnknown* manager) override;

  // IMFGetService
  STDMETHODIMP GetService(REFGUID service, REFIID riid, void** object) override;

  // IKsControl: the camera has no property, method or event sets.
  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG property_length, void* data,
                          ULONG data_length, ULONG* returned) override;
  STDMETHODIMP KsMethod(PKSMETHOD method, ULONG method_length, void* data, ULONG data_length,
                        ULONG* returned) override;
  STDMETHODIMP KsEvent(PKSEVENT event, ULONG event_length, void* data, ULONG data_length,
                       ULONG* returned) override;

  // IMFSampleAllocatorControl
  STDMETHODIMP SetDefaultAllocator(DWORD stream_id, IUnknown* allocator) override;
  STDMETHODIMP GetAllocatorUsage(DWORD stream_id, DWORD* input_stream_id,
                                 MFSampleAllocatorUsage* usage) override;

 private:
  enum class SourceState { stopped, started, shut_down };

  MediaSource() = default;
  ~MediaSource();
  HRESULT initialize(IMFAttributes* attributes, std::shared_ptr<section::SectionHold> section);

  // Answers a call: MF_E_SHUTDOWN once shut down, otherwise what `body`
  // returns, run under the lock with exceptions turned into HRESULTs.
  template <class Body>
  HRESULT serve(Body&& body);
  HRESULT start_locked(IMFPresentationDescriptor* descriptor);

  RefCount refs_;
  // Set by create, then constant.
  Microsoft::WRL::ComPtr<IMFMediaEventQueue> events_;
  Microsoft::WRL::ComPtr<IMFAttributes> attributes_;
  Microsoft::WRL::ComPtr<IMFPresentationDescriptor> descriptor_;
  Microsoft::WRL::ComPtr<MediaStream> stream_;

  SlimLock lock_;  // guards the two below; taken before the stream's lock
  SourceState state_ = SourceState::stopped;
  // Whether the last Start selected the stream: the next Start then
  // announces it as updated rather than new.
  bool stream_selected_ = false;
};

}  // namespace korvex::media_source
