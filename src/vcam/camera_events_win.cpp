#include "vcam/camera_events_win.hpp"

#include <mfapi.h>
#include <mferror.h>

#include <new>
#include <string>

#include "platform/com_adopt_win.hpp"
#include "platform/debug_trace_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::vcam {
namespace {

using Microsoft::WRL::ComPtr;

// The extended event types of mfvirtualcamera.h, which MinGW's headers lack.
constexpr GUID kSourceInitialize = {
    0xE52C4DFF, 0xE46D, 0x4D0B, {0xBC, 0x75, 0xDD, 0xD4, 0xC8, 0x72, 0x3F, 0x96}};
constexpr GUID kSourceStart = {
    0xB1EEB989, 0xB456, 0x4F4A, {0xAE, 0x40, 0x07, 0x9C, 0x28, 0xE2, 0x4A, 0xF8}};
constexpr GUID kSourceStop = {
    0xB7FE7A61, 0xFE91, 0x415E, {0x86, 0x08, 0xD3, 0x7D, 0xED, 0xB1, 0xA5, 0x8B}};
constexpr GUID kSourceUninitialize = {
    0xA0EBABA7, 0xA422, 0x4E33, {0x84, 0x01, 0xB3, 0x7D, 0x28, 0x00, 0xAA, 0x67}};
constexpr GUID kPipelineShutdown = {
    0x45A81B31, 0x43F8, 0x4E5D, {0x8C, 0xE2, 0x22, 0xDC, 0xE0, 0x26, 0x99, 0x6D}};

// The documentation does not say where the event rides on the result: it is
// looked for as the result's object, its state, and the result itself.
ComPtr<IMFMediaEvent> event_of(IMFAsyncResult* result) {
  ComPtr<IMFMediaEvent> event;
  ComPtr<IUnknown> carried;
  if (SUCCEEDED(result->GetObject(&carried)) && carried && SUCCEEDED(carried.As(&event))) {
    return event;
  }
  carried.Reset();
  if (SUCCEEDED(result->GetState(&carried)) && carried && SUCCEEDED(carried.As(&event))) {
    return event;
  }
  if (SUCCEEDED(result->QueryInterface(IID_PPV_ARGS(&event)))) {
    return event;
  }
  return nullptr;
}

const char* event_name(CameraEvent event) {
  switch (event) {
    case CameraEvent::source_initialized:
      return "an application opened the camera";
    case CameraEvent::source_started:
      return "an application started the camera";
    case CameraEvent::source_stopped:
      return "the camera's streams stopped";
    case CameraEvent::source_uninitialized:
      return "the application let the camera go";
    case CameraEvent::pipeline_shut_down:
      return "the camera service shut the camera's pipeline down";
    case CameraEvent::error:
      return "the camera's pipeline failed";
    case CameraEvent::other:
      break;
  }
  return "an event of the camera service";
}

}  // namespace

CameraEvent camera_event(IMFMediaEvent* event) {
  MediaEventType type = MEUnknown;
  if (event == nullptr || FAILED(event->GetType(&type))) {
    return CameraEvent::other;
  }
  if (type == MEError) {
    return CameraEvent::error;
  }
  GUID extended{};
  if (type != MEExtendedType || FAILED(event->GetExtendedType(&extended))) {
    return CameraEvent::other;
  }
  if (extended == kSourceInitialize) {
    return CameraEvent::source_initialized;
  }
  if (extended == kSourceStart) {
    return CameraEvent::source_started;
  }
  if (extended == kSourceStop) {
    return CameraEvent::source_stopped;
  }
  if (extended == kSourceUninitialize) {
    return CameraEvent::source_uninitialized;
  }
  if (extended == kPipelineShutdown) {
    return CameraEvent::pipeline_shut_down;
  }
  return CameraEvent::other;
}

ComPtr<CameraEvents> CameraEvents::create() {
  return platform::adopt(new (std::nothrow) CameraEvents());
}

STDMETHODIMP CameraEvents::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFAsyncCallback)) {
    *object = static_cast<IMFAsyncCallback*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CameraEvents::AddRef() {
  return refs_.fetch_add(1) + 1;
}

STDMETHODIMP_(ULONG) CameraEvents::Release() {
  const ULONG left = refs_.fetch_sub(1) - 1;
  if (left == 0) {
    delete this;
  }
  return left;
}

STDMETHODIMP CameraEvents::GetParameters(DWORD*, DWORD*) {
  return E_NOTIMPL;  // any work queue will do
}

STDMETHODIMP CameraEvents::Invoke(IMFAsyncResult* result) {
  if (result == nullptr) {
    return E_POINTER;
  }
  const ComPtr<IMFMediaEvent> event = event_of(result);
  const CameraEvent what = camera_event(event.Get());
  HRESULT status = S_OK;
  if (event) {
    event->GetStatus(&status);
  }
  platform::trace(FAILED(status) ? platform::step_text(
                                       std::string("virtual camera: ") + event_name(what), status)
                                 : std::string("virtual camera: ") + event_name(what));
  // Events of several threads: each applies to the state it finds.
  CameraState seen = state_.load();
  while (!state_.compare_exchange_weak(seen, after(seen, what))) {
  }
  return S_OK;
}

}  // namespace korvex::vcam
