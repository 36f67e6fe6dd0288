#include "source_dll.hpp"

#include <gtest/gtest.h>
#include <mfapi.h>
#include <mferror.h>

#include <string>
#include <thread>

#include "picture/camera_formats.hpp"

namespace korvex::media_source::test {
namespace {

HMODULE load_dll() {
  static const HMODULE module = [] {
    // Media Foundation is the host's to start, as in the frame server.
    MFStartup(MF_VERSION, MFSTARTUP_LITE);
    std::string path = KORVEX_SOURCE_DLL;
    if (path.front() == '/') {
      path = "Z:" + path;  // Wine shows the Unix file system as drive Z:
    }
    return LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
  }();
  return module;
}

template <class Function>
Function dll_export(const char* name) {
  const HMODULE module = load_dll();
  return module == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

GetClassObject dll_get_class_object() {
  return dll_export<GetClassObject>("DllGetClassObject");
}

CanUnloadNow dll_can_unload_now() {
  return dll_export<CanUnloadNow>("DllCanUnloadNow");
}

HRESULT create_activate(ComPtr<IMFActivate>& out) {
  const GetClassObject get_class_object = dll_get_class_object();
  if (get_class_object == nullptr) {
    return E_NOINTERFACE;
  }
  ComPtr<IClassFactory> factory;
  HRESULT hr = get_class_object(kSourceClsid, IID_PPV_ARGS(&factory));
  if (SUCCEEDED(hr)) {
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&out));
  }
  return hr;
}

ComPtr<IMFMediaEvent> next_event(IMFMediaEventGenerator* generator,
                                 std::chrono::milliseconds timeout) {
  // Polled, so that a missing event fails the test instead of hanging it.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  ComPtr<IMFMediaEvent> event;
  while (generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) == MF_E_NO_EVENTS_AVAILABLE &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  return event;
}

MediaEventType type_of(IMFMediaEvent* event) {
  MediaEventType type = MEUnknown;
  if (event != nullptr) {
    event->GetType(&type);
  }
  return type;
}

ComPtr<IMFPresentationDescriptor> presentation_with(IMFMediaSource* source, DWORD type) {
  ComPtr<IMFPresentationDescriptor> presentation;
  ComPtr<IMFStreamDescriptor> descriptor;
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> media_type;
  BOOL selected = FALSE;
  if (FAILED(source->CreatePresentationDescriptor(&presentation)) ||
      FAILED(presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor)) ||
      FAILED(descriptor->GetMediaTypeHandler(&handler)) ||
      FAILED(handler->GetMediaTypeByIndex(type, &media_type)) ||
      FAILED(handler->SetCurrentMediaType(media_type.Get()))) {
    return nullptr;
  }
  return presentation;
}

std::unique_ptr<CameraSession> CameraSession::open() {
  auto session = std::make_unique<CameraSession>();
  HRESULT hr = create_activate(session->activate);
  if (SUCCEEDED(hr)) {
    hr = session->activate->ActivateObject(IID_PPV_ARGS(&session->source));
  }
  if (FAILED(hr)) {
    ADD_FAILURE() << "activating the source: 0x" << std::hex << hr;
    return nullptr;
  }
  return session;
}

CameraSession::~CameraSession() {
  if (source) {
    source->Shutdown();
  }
}

DWORD media_type(picture::PixelFormat pixels, uint32_t width, uint32_t height, uint32_t fps) {
  const auto& formats = picture::kCameraFormats;
  for (size_t i = 0; i < formats.size(); ++i) {
    if (formats[i] == picture::CameraFormat{pixels, width, height, {fps, 1}}) {
      return static_cast<DWORD>(i);
    }
  }
  ADD_FAILURE() << "no media type " << width << "x" << height << " at " << fps;
  return 0;
}

void CameraSession::start(DWORD type) {
  stream.Reset();
  const ComPtr<IMFPresentationDescriptor> presentation = presentation_with(source.Get(), type);
  PROPVARIANT from_now{};
  const HRESULT hr =
      presentation ? source->Start(presentation.Get(), &GUID_NULL, &from_now) : E_FAIL;
  if (FAILED(hr)) {
    ADD_FAILURE() << "starting with media type " << type << ": 0x" << std::hex << hr;
    return;
  }
  const ComPtr<IMFMediaEvent> announced = next_event(source.Get());
  const MediaEventType announced_type = type_of(announced.Get());
  ComPtr<IMFMediaStream> started = event_object<IMFMediaStream>(announced.Get());
  if ((announced_type != MENewStream && announced_type != MEUpdatedStream) || !started) {
    ADD_FAILURE() << "a start announced no stream (event " << announced_type << ")";
    return;
  }
  EXPECT_EQ(type_of(next_event(started.Get()).Get()), MEStreamStarted);
  EXPECT_EQ(type_of(next_event(source.Get()).Get()), MESourceStarted);
  stream = started;
}

ComPtr<IMFSample> CameraSession::read(IUnknown* token) {
  if (!stream) {
    ADD_FAILURE() << "reading from a session that did not start";
    return nullptr;
  }
  const HRESULT hr = stream->RequestSample(token);
  if (FAILED(hr)) {
    ADD_FAILURE() << "RequestSample: 0x" << std::hex << hr;
    return nullptr;
  }
  const ComPtr<IMFMediaEvent> event = next_event(stream.Get());
  ComPtr<IMFSample> sample = event_object<IMFSample>(event.Get());
  EXPECT_EQ(type_of(event.Get()), MEMediaSample);
  EXPECT_TRUE(sample) << "no sample came";
  return sample;
}

}  // namespace korvex::media_source::test
