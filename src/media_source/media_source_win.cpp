#include "media_source/media_source_win.hpp"

#include <mfapi.h>
#include <mferror.h>

#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "media_source/com_guard_win.hpp"
#include "media_source/stream_formats_win.hpp"

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

HRESULT MediaSource::create(IMFAttributes* attributes, ComPtr<MediaSource>& out) {
  ComPtr<MediaSource> source(new (std::nothrow) MediaSource());
  if (!source) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = MFCreateEventQueue(&source->events_);
  if (SUCCEEDED(hr)) {
    hr = MFCreateAttributes(&source->attributes_, 0);
  }
  if (SUCCEEDED(hr) && attributes != nullptr) {
    hr = attributes->CopyAllItems(source->attributes_.Get());
  }
  if (SUCCEEDED(hr)) {
    hr = MediaStream::create(source.Get(), source->stream_);
  }
  if (SUCCEEDED(hr)) {
    IMFStreamDescriptor* streams[] = {source->stream_->descriptor()};
    hr = MFCreatePresentationDescriptor(1, streams, &source->descriptor_);
  }
  if (SUCCEEDED(hr)) {
    hr = source->descriptor_->SelectStream(0);
  }
  if (FAILED(hr)) {
    if (source->stream_) {
      source->stream_->shut_down();
    }
    return hr;
  }
  out = std::move(source);
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

STDMETHODIMP MediaSource::GetCharacteristics(DWORD* characteristics) {
  if (characteristics == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  *characteristics = MFMEDIASOURCE_IS_LIVE;
  return S_OK;
}

STDMETHODIMP MediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) {
  if (descriptor == nullptr) {
    return E_POINTER;
  }
  *descriptor = nullptr;
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  return descriptor_->Clone(descriptor);
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
  return guarded([&] {
    std::lock_guard guard(lock_);
    if (shut_down_) {
      return MF_E_SHUTDOWN;
    }
    DWORD count = 0;
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    DWORD stream_id = 0;
    HRESULT hr = descriptor->GetStreamDescriptorCount(&count);
    if (SUCCEEDED(hr)) {
      hr =
          count == 1 ? descriptor->GetStreamDescriptorByIndex(0, &selected, &stream) : E_INVALIDARG;
    }
    if (SUCCEEDED(hr)) {
      hr = stream->GetStreamIdentifier(&stream_id);
    }
    if (FAILED(hr) || stream_id != 0) {
      return FAILED(hr) ? hr : E_INVALIDARG;
    }

    PROPVARIANT start_time;
    PropVariantInit(&start_time);
    start_time.vt = VT_I8;
    start_time.hVal.QuadPart = MFGetSystemTime();  // the clock the samples are stamped on
    if (selected) {
      const std::optional<StreamFormat> format = current_format(stream.Get());
      if (!format) {
        return MF_E_INVALIDMEDIATYPE;
      }
      hr = stream_->run(*format);
      if (SUCCEEDED(hr)) {
        hr =
            events_->QueueEventParamUnk(stream_selected_ ? MEUpdatedStream : MENewStream, GUID_NULL,
                                        S_OK, static_cast<IMFMediaStream*>(stream_.Get()));
      }
      if (SUCCEEDED(hr)) {
        hr = stream_->queue_started(start_time);
      }
      if (FAILED(hr)) {
        return hr;
      }
    } else {
      stream_->deselect();
    }
    stream_selected_ = selected;
    return events_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &start_time);
  });
}

STDMETHODIMP MediaSource::Stop() {
  return guarded([&] {
    std::lock_guard guard(lock_);
    if (shut_down_) {
      return MF_E_SHUTDOWN;
    }
    stream_->stop();
    return events_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
  });
}

STDMETHODIMP MediaSource::Pause() {
  return answer_unless_shut_down(MF_E_INVALID_STATE_TRANSITION);  // a live camera does not pause
}

STDMETHODIMP MediaSource::Shutdown() {
  return guarded([&] {
    std::lock_guard guard(lock_);
    if (shut_down_) {
      return MF_E_SHUTDOWN;
    }
    shut_down_ = true;
    stream_->shut_down();
    return events_->Shutdown();
  });
}

STDMETHODIMP MediaSource::GetSourceAttributes(IMFAttributes** attributes) {
  if (attributes == nullptr) {
    return E_POINTER;
  }
  *attributes = nullptr;
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  return attributes_.CopyTo(attributes);
}

STDMETHODIMP MediaSource::GetStreamAttributes(DWORD stream_id, IMFAttributes** attributes) {
  if (attributes == nullptr) {
    return E_POINTER;
  }
  *attributes = nullptr;
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  if (stream_id != 0) {
    return MF_E_INVALIDSTREAMNUMBER;
  }
  (*attributes = stream_->attributes())->AddRef();
  return S_OK;
}

STDMETHODIMP MediaSource::SetD3DManager(IUnknown*) {
  // Pictures are drawn on the CPU into system memory; the frame server still
  // expects the call to succeed.
  return answer_unless_shut_down(S_OK);
}

STDMETHODIMP MediaSource::GetService(REFGUID, REFIID, void** object) {
  if (object != nullptr) {
    *object = nullptr;
  }
  return answer_unless_shut_down(MF_E_UNSUPPORTED_SERVICE);
}

STDMETHODIMP MediaSource::KsProperty(PKSPROPERTY, ULONG, void*, ULONG, ULONG*) {
  return answer_unless_shut_down(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND));
}

STDMETHODIMP MediaSource::KsMethod(PKSMETHOD, ULONG, void*, ULONG, ULONG*) {
  return answer_unless_shut_down(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND));
}

STDMETHODIMP MediaSource::KsEvent(PKSEVENT, ULONG, void*, ULONG, ULONG*) {
  return answer_unless_shut_down(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND));
}

STDMETHODIMP MediaSource::SetDefaultAllocator(DWORD stream_id, IUnknown* allocator) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  if (stream_id != 0) {
    return MF_E_INVALIDSTREAMNUMBER;
  }
  ComPtr<IMFVideoSampleAllocator> video_allocator;
  const HRESULT hr = allocator->QueryInterface(IID_PPV_ARGS(&video_allocator));
  if (SUCCEEDED(hr)) {
    stream_->set_allocator(std::move(video_allocator));
  }
  return hr;
}

STDMETHODIMP MediaSource::GetAllocatorUsage(DWORD stream_id, DWORD* input_stream_id,
                                            MFSampleAllocatorUsage* usage) {
  if (input_stream_id == nullptr || usage == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  if (stream_id != 0) {
    return MF_E_INVALIDSTREAMNUMBER;
  }
  *input_stream_id = stream_id;
  *usage = MFSampleAllocatorUsage_UsesProvidedAllocator;
  return S_OK;
}

HRESULT MediaSource::answer_unless_shut_down(HRESULT answer) {
  std::lock_guard guard(lock_);
  return shut_down_ ? MF_E_SHUTDOWN : answer;
}

}  // namespace korvex::media_source
