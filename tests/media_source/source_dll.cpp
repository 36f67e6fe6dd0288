#include "source_dll.hpp"

#include <gtest/gtest.h>
#include <mfapi.h>
#include <mferror.h>

#include <string>
#include <thread>

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
  if (activate) {
    activate->ShutdownObject();
  }
}

void CameraSession::start(DWORD type) {
  stream.Reset();
  ComPtr<IMFPresentationDescriptor> presentation;
  ComPtr<IMFStreamDescriptor> descriptor;
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> media_type;
  BOOL selected = FALSE;
  HRESULT hr = source->CreatePresentationDescriptor(&presentation);
  if (SUCCEEDED(hr)) {
    hr = presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor);
  }
  if (SUCCEEDED(hr)) {
    hr = descriptor->GetMediaTypeHandler(&handler);
  }
  if (SUCCEEDED(hr)) {
    hr = handler->GetMediaTypeByIndex(type, &media_type);
  }
  if (SUCCEEDED(hr)) {
    hr = handler->SetCurrentMediaType(media_type.Get());
  }
  if (SUCCEEDED(hr)) {
    hr = presentation->SelectStream(0);
  }
  PROPVARIANT start{};
  if (SUCCEEDED(hr)) {
    hr = source->Start(presentation.Get(), &GUID_NULL, &start);
  }
  if (FAILED(hr)) {
    ADD_FAILURE() << "starting with media type " << type << ": 0x" << std::hex << hr;
    return;
  }
  const ComPtr<IMFMediaEvent> announced = next_event(source.Get());
  const MediaEventType announced_type = type_of(announced.Get());
  if (announced_type != MENewStream && announced_type != MEUpdatedStream) {
    ADD_FAILURE() << "first event of a start: " << announced_type;
    return;
  }
  PROPVARIANT value{};
  announced->GetValue(&value);
  ComPtr<IMFMediaStream> started;
  if (value.vt == VT_UNKNOWN && value.punkVal != nullptr) {
    value.punkVal->QueryInterface(IID_PPV_ARGS(&started));
  }
  PropVariantClear(&value);
  if (!started) {
    ADD_FAILURE() << "the stream event carries no stream";
    return;
  }
  EXPECT_EQ(type_of(next_event(started.Get()).Get()), MEStreamStarted);
  EXPECT_EQ(type_of(next_event(source.Get()).Get()), MESourceStarted);
  stream = std::move(started);
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
  if (type_of(event.Get()) != MEMediaSample) {
    ADD_FAILURE() << "after RequestSample came event " << type_of(event.Get());
    return nullptr;
  }
  PROPVARIANT value{};
  event->GetValue(&value);
  ComPtr<IMFSample> sample;
  if (value.vt == VT_UNKNOWN && value.punkVal != nullptr) {
    value.punkVal->QueryInterface(IID_PPV_ARGS(&sample));
  }
  PropVariantClear(&value);
  EXPECT_TRUE(sample) << "MEMediaSample without a sample";
  return sample;
}

}  // namespace korvex::media_source::test
