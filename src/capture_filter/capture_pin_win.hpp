#pragma once

// The camera's one output pin, "Capture": it connects with one of the
// offered formats, lets programs choose it through IAMStreamConfig (also
// while connected, by reconnecting through the graph), says it is a capture
// pin through IKsPropertySet and counts its frames for IAMDroppedFrames.
// Its references are the filter's: it lives as long as the filter does.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include <memory>
#include <optional>

#include "capture_filter/capture_formats.hpp"
#include "capture_filter/picture_stream_win.hpp"
#include "directshow/media_type_win.hpp"
#include "picture/camera_picture.hpp"
#include "section/section_hold.hpp"

namespace korvex::capture_filter {

class CaptureFilter;

class CapturePin final : public IPin,
                         public IAMStreamConfig,
                         public IKsPropertySet,
                         public IAMDroppedFrames {
 public:
  explicit CapturePin(CaptureFilter& filter);
  ~CapturePin();
  CapturePin(const CapturePin&) = delete;
  CapturePin& operator=(const CapturePin&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin
  STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  // IKsPropertySet
  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD data_size) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD data_size, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IAMDroppedFrames
  STDMETHODIMP GetNumDropped(long* dropped) override;
  STDMETHODIMP GetNumNotDropped(long* delivered) override;
  STDMETHODIMP GetDroppedInfo(long size, long* frames, long* copied) override;
  STDMETHODIMP GetAverageFrameSize(long* size) override;

  // The filter's state changes, called with the filter's lock held except
  // stop_streaming, which joins the thread and must not hold it.
  HRESULT commit();
  HRESULT run_streaming(IReferenceClock* clock, REFERENCE_TIME start);
  void pause_streaming();
  void stop_streaming();

 private:
  // What the pin streams now: the connection's choice, else SetFormat's,
  // else the default. Under the filter's lock.
  StreamChoice current_choice() const;
  HRESULT try_connect(IPin* receiver, const StreamChoice& choice);
  HRESULT decide_allocator(IMemInputPin& input, const StreamChoice& choice,
                           Microsoft::WRL::ComPtr<IMemAllocator>& out);

  CaptureFilter& filter_;

  // Guarded by the filter's lock.
  std::optional<StreamChoice> chosen_;  // by SetFormat
  Microsoft::WRL::ComPtr<IPin> peer_;
  Microsoft::WRL::ComPtr<IMemInputPin> peer_input_;
  Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
  StreamChoice connected_choice_;
  directshow::MediaType connected_type_;
  std::unique_ptr<PictureStream> stream_;

  FrameCounts counts_;
  // The frame section, held from the filter's creation on, as every camera
  // holds it; the picture is drawn from it by the streaming thread while
  // there is one.
  const std::shared_ptr<section::SectionHold> section_;
  picture::CameraPicture picture_;
};

}  // namespace korvex::capture_filter
