#pragma once

// The built KorvexSource.dll, loaded as the system loads a COM server, and a
// camera session that drives one of its sources the way a camera
// application's pipeline does.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "picture/camera_picture.hpp"

namespace korvex::media_source::test {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

// Written out here rather than taken from the DLL's sources, so that a DLL
// answering to another class fails.
inline constexpr CLSID kSourceClsid = {
    0xF4467B1E, 0xEB18, 0x459B, {0x87, 0xC2, 0x42, 0xD4, 0x22, 0x66, 0xFD, 0xEB}};

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// The DLL's exports; null when the DLL or the export is missing. The first
// call loads the DLL (for good) and starts Media Foundation.
GetClassObject dll_get_class_object();
CanUnloadNow dll_can_unload_now();

// DllGetClassObject, then IClassFactory::CreateInstance(IMFActivate).
HRESULT create_activate(ComPtr<IMFActivate>& out);

// The next event `generator` queues within `timeout`; null when none came.
ComPtr<IMFMediaEvent> next_event(IMFMediaEventGenerator* generator,
                                 std::chrono::milliseconds timeout = 5s);
MediaEventType type_of(IMFMediaEvent* event);

// The object an event carries (a stream, a sample) as `Interface`; null
// when it carries none.
template <class Interface>
ComPtr<Interface> event_object(IMFMediaEvent* event) {
  PROPVARIANT value{};
  ComPtr<Interface> object;
  if (event != nullptr && SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN &&
      value.punkVal != nullptr) {
    value.punkVal->QueryInterface(IID_PPV_ARGS(&object));
  }
  PropVariantClear(&value);
  return object;
}

// The number of the source's media type of this format, size and frame
// rate, in the order the camera lists its formats.
DWORD media_type(picture::PixelFormat pixels, uint32_t width, uint32_t height, uint32_t fps = 30);

// A copy of the source's presentation descriptor with media type number
// `type` current; null when any step fails.
ComPtr<IMFPresentationDescriptor> presentation_with(IMFMediaSource* source, DWORD type);

// A source activated through the DLL, shut down when the session ends.
class CameraSession {
 public:
  // Null (with the reason added as a test failure) when activation fails.
  static std::unique_ptr<CameraSession> open();
  ~CameraSession();

  // Starts the source with its media type number `type` selected and reads
  // the start events; null stream (and a test failure) on any surprise.
  void start(DWORD type);

  // RequestSample, then the MEMediaSample it brings; null (and a test
  // failure) when something else or nothing comes.
  ComPtr<IMFSample> read(IUnknown* token = nullptr);

  ComPtr<IMFActivate> activate;
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFMediaStream> stream;  // from MENewStream
};

}  // namespace korvex::media_source::test
