#include "media_source/media_source_win.hpp"

#include <mfapi.h>
#include <mferror.h>

#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "media_source/com_guard_win.hpp"
#include "media_source/stream_formats_win.hpp"
#include "platform/debug_trace_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

// The offered format a presentation descriptor's stream has as its current type.
std::optional<StreamFormat> current_format(IMFStreamDescriptor* stream) {
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> type;
  if (FAILED(stream->GetMediaTypeHandler(&handler)) ||
      FAILED(handler->GetCurrentMediaType(&type))) {
    return std::nullopt;
  }
  return format_of(type.Get());
}

}  // namespace

HRESULT MediaSource::create(IMFAttributes* attributes,
                            std::shared_ptr<section::SectionHold> section,
                            ComPtr<MediaSource>& out) {
  ComPtr<MediaSource> source(new (std::nothrow) MediaSource());
  if (!source) {
    return E_OUTOFMEMORY;
  }
  if (const HRESULT hr = source->initialize(attributes, std::move(section)); FAILED(hr)) {
    if (source->stream_) {
      source->stream_->shut_down();
    }
    return hr;
  }
  platform::trace("source: created");
  out = std::move(source);
  return S_OK;
}

HRESULT MediaSource::initialize(IMFAttributes* attributes,
                                std::shared_ptr<section::SectionHold> section) {
  KORVEX_RETURN_IF_FAILED("source MFCreateEventQueue", MFCreateEventQueue(&events_));
  KORVEX_RETURN_IF_FAILED("source MFCreateAttributes", MFCreateAttributes(&attributes_, 0));
  if (attributes != nullptr) {
    KORVEX_RETURN_IF_FAILED("CopyAllItems", attributes->CopyAllItems(attributes_.Get()));
  }
  KORVEX_RETURN_IF_FAILED("stream", MediaStream::create(this, std::move(section), stream_));
  IMFStreamDescriptor* streams[] = {stream_->descriptor()};
  KORVEX_RETURN_IF_FAILED("MFCreatePresentationDescriptor",
                          MFCreatePresentationDescriptor(1, streams, &descriptor_));
  KORVEX_RETURN_IF_FAILED("SelectStream", descriptor_->SelectStream(0));
  return S_OK;
}

MediaSource::~MediaSource() {
  if (stream_) {
    stream_->forget_source();
  }
  if (events_) {
    events_->Shutdown();  // lets go of callbacks still waiting for an event
  }
}

STDMETHODIMP MediaSource::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFMediaEventGenerator) ||
      riid == __uuidof(IMFMediaSource) || riid == __uuidof(IMFMediaSourceEx)) {
    *object = static_cast<IMFMediaSourceEx*>(this);
  } else if (riid == __uuidof(IMFGetService)) {
    *object = static_cast<IMFGetService*>(this);
  } else if (riid == __uuidof(IKsControl)) {
    *object = static_cast<IKsControl*>(this);
  } else if (riid == __uuidof(IMFSampleAllocatorControl)) {
    *object = static_cast<IMFSampleAllocatorControl*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) MediaSource::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

// The event queue is thread-safe and answers MF_E_SHUTDOWN once shut down;
// GetEvent may block, so no lock is held around it.
STDMETHODIMP MediaSource::GetEvent(DWORD flags, IMFMediaEvent** event) {
  return events_->GetEvent(flags, event);
}

STDMETHODIMP MediaSource::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
  return events_->BeginGetEvent(callback, state);
}

STDMETHODIMP MediaSource::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
  return events_->EndGetEvent(result, event);
}

STDMETHODIMP MediaSource::QueueEvent(MediaEventType type, REFGUID extended_type, HRESULT status,
                                     const PROPVARIANT* value) {
  return events_->QueueEventParamVar(type, extended_type, status, value);
}

template <class Body>
HRESULT MediaSource::serve(Body&& body) {
  return guarded([&]() -> HRESULT {
    std::lock_guard guard(lock_);
    return state_ == SourceState::shut_down ? MF_E_SHUTDOWN : body();
  });
}

bool MediaSource::is_shut_down() {
  std::lock_guard guard(lock_);
  return state_ == SourceState::shut_down;
}

STDMETHODIMP MediaSource::GetCharacteristics(DWORD* characteristics) {
  if (characteristics == nullptr) {
    return E_POINTER;
  }
  return serve([&] {
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return S_OK;
  });
}

STDMETHODIMP MediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) {
  if (descriptor == nullptr) {
    return E_POINTER;
  }
  *descriptor = nullptr;
  return serve([&] { return descriptor_->Clone(descriptor); });
}

STDMETHODIMP MediaSource::Start(IMFPresentationDescriptor* descriptor, const GUID* time_format,
                                const PROPVARIANT* start_position) {
  if (descriptor == nullptr || start_position == nullptr) {
    return E_INVALIDARG;
  }
  // A live source starts now, wherever it is asked to start from.
  if ((time_format != nullptr && *time_format != GUID_NULL) ||
      (start_position->vt != VT_EMPTY && start_position->vt != VT_I8)) {
    return MF_E_UNSUPPORTED_TIME_FORMAT;
  }
  return serve([&] { return start_locked(descriptor); });
}

HRESULT MediaSource::start_locked(IMFPresentationDescriptor* descriptor) {
  DWORD count = 0;
  KORVEX_RETURN_IF_FAILED("GetStreamDescriptorCount", descriptor->GetStreamDescriptorCount(&count));
  if (count != 1) {
    return platform::traced_failure("Start with " + std::to_string(count) + " streams",
                                    E_INVALIDARG);
  }
  BOOL selected = FALSE;
  ComPtr<IMFStreamDescriptor> stream;
  DWORD stream_id = 0;
  KORVEX_RETURN_IF_FAILED("GetStreamDescriptorByIndex",
                          descriptor->GetStreamDescriptorByIndex(0, &selected, &stream));
  KORVEX_RETURN_IF_FAILED("GetStreamIdentifier", stream->GetStreamIdentifier(&stream_id));
  if (stream_id != 0) {
    return platform::traced_failure("Start with stream " + std::to_string(stream_id), E_INVALIDARG);
  }

  PROPVARIANT start_time;
  PropVariantInit(&start_time);
  start_time.vt = VT_I8;
  start_time.hVal.QuadPart = MFGetSystemTime();  // the clock the samples are stamped on
  if (selected) {
    const std::optional<StreamFormat> format = current_format(stream.Get());
    if (!format) {
      return platform::traced_failure("Start with a media type not offered", MF_E_INVALIDMEDIATYPE);
    }
    KORVEX_RETURN_IF_FAILED("run the stream", stream_->run(*format));
    KORVEX_RETURN_IF_FAILED(
        stream_selected_ ? "MEUpdatedStream" : "MENewStream",
        events_->QueueEventParamUnk(stream_selected_ ? MEUpdatedStream : MENewStream, GUID_NULL,
                                    S_OK, static_cast<IMFMediaStream*>(stream_.Get())));
    KORVEX_RETURN_IF_FAILED("stream started", stream_->queue_started(start_time));
  } else {
    stream_->deselect();
  }
  stream_selected_ = selected;
  state_ = SourceState::started;
  platform::trace(selected ? "source: started" : "source: started without its stream");
  KORVEX_RETURN_IF_FAILED("MESourceStarted", events_->QueueEventParamVar(MESourceStarted, GUID_NULL,
                                                                         S_OK, &start_time));
  return S_OK;
}

STDMETHODIMP MediaSource::Stop() {
  return serve([&] {
    stream_->stop();
    state_ = SourceState::stopped;
    platform::trace("source: stopped");
    KORVEX_RETURN_IF_FAILED("MESourceStopped",
                            events_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr));
    return S_OK;
  });
}

STDMETHODIMP MediaSource::Pause() {
  // A live camera does not pause; its stream may (SetStreamState).
  return serve([] { return MF_E_INVALID_STATE_TRANSITION; });
}

STDMETHODIMP MediaSource::Shutdown() {
  return serve([&] {
    state_ = SourceState::shut_down;
    stream_->shut_down();  // lets go of the frame section too
    platform::trace("source: shut down");
    return events_->Shutdown();
  });
}

STDMETHODIMP MediaSource::GetSourceAttributes(IMFAttributes** attributes) {
  if (attributes == nullptr) {
    return E_POINTER;
  }
  *attributes = nullptr;
  return serve([&] { return attributes_.CopyTo(attributes); });
}

STDMETHODIMP MediaSource::GetStreamAttributes(DWORD stream_id, IMFAttributes** attributes) {
  if (attributes == nullptr) {
    return E_POINTER;
  }
  *attributes = nullptr;
  return serve([&] {
    if (stream_id != 0) {
      return MF_E_INVALIDSTREAMNUMBER;
    }
    (*attributes = stream_->attributes())->AddRef();
    return S_OK;
  });
}

STDMETHODIMP MediaSource::SetD3DManager(IUnknown*) {
  // Pictures are drawn on the CPU into system memory; the frame server still
  // expects the call to succeed.
  return serve([] { return S_OK; });
}

STDMETHODIMP MediaSource::GetService(REFGUID, REFIID, void** object) {
  if (object != nullptr) {
    *object = nullptr;
  }
  return serve([] { return MF_E_UNSUPPORTED_SERVICE; });
}

// The camera has no property, method or event sets: what the kernel-streaming
// framework answers for a set no driver handles.
STDMETHODIMP MediaSource::KsProperty(PKSPROPERTY, ULONG, void*, ULONG, ULONG*) {
  return serve([] { return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND); });
}

STDMETHODIMP MediaSource::KsMethod(PKSMETHOD, ULONG, void*, ULONG, ULONG*) {
  return serve([] { return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND); });
}

STDMETHODIMP MediaSource::KsEvent(PKSEVENT, ULONG, void*, ULONG, ULONG*) {
  return serve([] { return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND); });
}

STDMETHODIMP MediaSource::SetDefaultAllocator(DWORD stream_id, IUnknown* allocator) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  return serve([&] {
    if (stream_id != 0) {
      return MF_E_INVALIDSTREAMNUMBER;
    }
    ComPtr<IMFVideoSampleAllocator> video_allocator;
    KORVEX_RETURN_IF_FAILED("IMFVideoSampleAllocator",
                            allocator->QueryInterface(IID_PPV_ARGS(&video_allocator)));
    stream_->set_allocator(std::move(video_allocator));
    return S_OK;
  });
}

STDMETHODIMP MediaSource::GetAllocatorUsage(DWORD stream_id, DWORD* input_stream_id,
                                            MFSampleAllocatorUsage* usage) {
  if (input_stream_id == nullptr || usage == nullptr) {
    return E_POINTER;
  }
  return serve([&] {
    if (stream_id != 0) {
      return MF_E_INVALIDSTREAMNUMBER;
    }
    *input_stream_id = stream_id;
    *usage = MFSampleAllocatorUsage_UsesProvidedAllocator;
    return S_OK;
  });
}

}  // namespace korvex::media_source
