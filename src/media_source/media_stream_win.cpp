#include "media_source/media_stream_win.hpp"

#include <mfapi.h>
#include <mferror.h>
// After mfidl.h (see media_source_win.hpp).
#include <ks.h>
#include <ksmedia.h>

#include <array>
#include <mutex>
#include <new>
#include <utility>

#include "media_source/com_guard_win.hpp"
#include "media_source/first_failure_win.hpp"
#include "media_source/media_source_win.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

// Samples the pipeline's allocator keeps for us: room for the frame server
// to hold a few while the next picture is rendered.
constexpr DWORD kAllocatorSamples = 8;

// What the frame server looks for on a color capture stream, on its
// attributes and on its descriptor alike.
HRESULT describe_capture_stream(IMFAttributes* attributes) {
  FirstFailure hr;
  hr << attributes->SetGUID(MF_DEVICESTREAM_STREAM_CATEGORY, PINNAME_VIDEO_CAPTURE);
  hr << attributes->SetUINT32(MF_DEVICESTREAM_STREAM_ID, 0);
  hr << attributes->SetUINT32(MF_DEVICESTREAM_FRAMESERVER_SHARED, 1);
  hr << attributes->SetUINT32(MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES,
                              MFFrameSourceTypes_Color);
  return hr.result();
}

// The six media types, current type the first.
HRESULT create_descriptor(ComPtr<IMFStreamDescriptor>& out) {
  std::array<ComPtr<IMFMediaType>, kStreamFormats.size()> types;
  std::array<IMFMediaType*, kStreamFormats.size()> list{};
  for (size_t i = 0; i < types.size(); ++i) {
    const HRESULT hr = create_media_type(kStreamFormats[i], types[i]);
    if (FAILED(hr)) {
      return hr;
    }
    list[i] = types[i].Get();
  }
  ComPtr<IMFStreamDescriptor> descriptor;
  HRESULT hr =
      MFCreateStreamDescriptor(0, static_cast<DWORD>(list.size()), list.data(), &descriptor);
  ComPtr<IMFMediaTypeHandler> handler;
  if (SUCCEEDED(hr)) {
    hr = descriptor->GetMediaTypeHandler(&handler);
  }
  if (SUCCEEDED(hr)) {
    hr = handler->SetCurrentMediaType(list[0]);
  }
  if (SUCCEEDED(hr)) {
    hr = describe_capture_stream(descriptor.Get());
  }
  if (SUCCEEDED(hr)) {
    out = std::move(descriptor);
  }
  return hr;
}

HRESULT prepare_allocator(IMFVideoSampleAllocator* allocator, const StreamFormat& format) {
  allocator->UninitializeSampleAllocator();  // from an earlier run, if any
  ComPtr<IMFMediaType> type;
  HRESULT hr = create_media_type(format, type);
  if (SUCCEEDED(hr)) {
    hr = allocator->InitializeSampleAllocator(kAllocatorSamples, type.Get());
  }
  return hr;
}

}  // namespace

HRESULT MediaStream::create(MediaSource* source, ComPtr<MediaStream>& out) {
  ComPtr<MediaStream> stream(new (std::nothrow) MediaStream());
  if (!stream) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = MFCreateEventQueue(&stream->events_);
  if (SUCCEEDED(hr)) {
    hr = create_descriptor(stream->descriptor_);
  }
  if (SUCCEEDED(hr)) {
    hr = MFCreateAttributes(&stream->attributes_, 4);
  }
  if (SUCCEEDED(hr)) {
    hr = describe_capture_stream(stream->attributes_.Get());
  }
  if (FAILED(hr)) {
    if (stream->events_) {
      stream->events_->Shutdown();
    }
    return hr;
  }
  stream->source_ = source;
  out = std::move(stream);
  return S_OK;
}

MediaStream::~MediaStream() = default;  // the worker, declared last, stops first

STDMETHODIMP MediaStream::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFMediaEventGenerator) ||
      riid == __uuidof(IMFMediaStream) || riid == __uuidof(IMFMediaStream2)) {
    *object = static_cast<IMFMediaStream2*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaStream::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

// The event queue is thread-safe and answers MF_E_SHUTDOWN once shut down;
// GetEvent may block, so no lock is held around it.
STDMETHODIMP MediaStream::GetEvent(DWORD flags, IMFMediaEvent** event) {
  return events_->GetEvent(flags, event);
}

STDMETHODIMP MediaStream::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
  return events_->BeginGetEvent(callback, state);
}

STDMETHODIMP MediaStream::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
  return events_->EndGetEvent(result, event);
}

STDMETHODIMP MediaStream::QueueEvent(MediaEventType type, REFGUID extended_type, HRESULT status,
                                     const PROPVARIANT* value) {
  return events_->QueueEventParamVar(type, extended_type, status, value);
}

STDMETHODIMP MediaStream::GetMediaSource(IMFMediaSource** source) {
  if (source == nullptr) {
    return E_POINTER;
  }
  *source = nullptr;
  std::lock_guard guard(lock_);
  // The source may be in its last Release on another thread; it takes our
  // lock to forget us before it is freed, so while we hold the lock the
  // pointer is valid, and a count already at zero is never revived.
  if (shut_down_ || source_ == nullptr || !source_->add_ref_if_alive()) {
    return MF_E_SHUTDOWN;
  }
  *source = static_cast<IMFMediaSourceEx*>(source_);
  return S_OK;
}

STDMETHODIMP MediaStream::GetStreamDescriptor(IMFStreamDescriptor** descriptor) {
  if (descriptor == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  if (shut_down_) {
    *descriptor = nullptr;
    return MF_E_SHUTDOWN;
  }
  return descriptor_.CopyTo(descriptor);
}

STDMETHODIMP MediaStream::RequestSample(IUnknown* token) {
  return guarded([&] {
    std::lock_guard guard(lock_);
    if (shut_down_) {
      return MF_E_SHUTDOWN;
    }
    if (state_ != MF_STREAM_STATE_RUNNING || !worker_) {
      return MF_E_MEDIA_SOURCE_WRONGSTATE;
    }
    return worker_->request(token);
  });
}

STDMETHODIMP MediaStream::SetStreamState(MF_STREAM_STATE state) {
  return guarded([&] {
    std::lock_guard guard(lock_);
    if (shut_down_) {
      return MF_E_SHUTDOWN;
    }
    switch (state) {
      case MF_STREAM_STATE_RUNNING: {
        ComPtr<IMFMediaTypeHandler> handler;
        ComPtr<IMFMediaType> type;
        HRESULT hr = descriptor_->GetMediaTypeHandler(&handler);
        if (SUCCEEDED(hr)) {
          hr = handler->GetCurrentMediaType(&type);
        }
        if (FAILED(hr)) {
          return hr;
        }
        const std::optional<StreamFormat> format = format_of(type.Get());
        return format ? run_locked(*format) : MF_E_INVALIDMEDIATYPE;
      }
      case MF_STREAM_STATE_STOPPED:
        stop_locked();
        return S_OK;
      case MF_STREAM_STATE_PAUSED:
        return MF_E_INVALID_STATE_TRANSITION;  // a live camera does not pause
    }
    return E_INVALIDARG;
  });
}

STDMETHODIMP MediaStream::GetStreamState(MF_STREAM_STATE* state) {
  if (state == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  *state = state_;
  return S_OK;
}

HRESULT MediaStream::run(const StreamFormat& format) {
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return MF_E_SHUTDOWN;
  }
  return run_locked(format);
}

HRESULT MediaStream::queue_started(const PROPVARIANT& start_time) {
  return events_->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, &start_time);
}

void MediaStream::stop() {
  std::lock_guard guard(lock_);
  const bool was_running = state_ == MF_STREAM_STATE_RUNNING;
  stop_locked();
  if (was_running) {
    events_->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
  }
}

void MediaStream::deselect() {
  std::lock_guard guard(lock_);
  stop_locked();
}

void MediaStream::shut_down() {
  std::lock_guard guard(lock_);
  if (shut_down_) {
    return;
  }
  shut_down_ = true;
  stop_locked();
  allocator_.Reset();
  events_->Shutdown();
}

void MediaStream::set_allocator(ComPtr<IMFVideoSampleAllocator> allocator) {
  std::lock_guard guard(lock_);
  allocator_ = std::move(allocator);
}

void MediaStream::forget_source() {
  std::lock_guard guard(lock_);
  source_ = nullptr;
}

HRESULT MediaStream::run_locked(const StreamFormat& format) {
  if (state_ == MF_STREAM_STATE_RUNNING && worker_ && worker_->format() == format) {
    return S_OK;
  }
  stop_locked();
  // Without a usable allocator of the pipeline's, samples get buffers of our own.
  ComPtr<IMFVideoSampleAllocator> allocator;
  if (allocator_ && SUCCEEDED(prepare_allocator(allocator_.Get(), format))) {
    allocator = allocator_;
  }
  auto worker = std::make_unique<PictureWorker>(format, std::move(allocator), events_);
  const HRESULT hr = worker->start();
  if (FAILED(hr)) {
    return hr;
  }
  worker_ = std::move(worker);
  state_ = MF_STREAM_STATE_RUNNING;
  return S_OK;
}

void MediaStream::stop_locked() {
  if (worker_) {
    worker_->stop();
    worker_.reset();
  }
  state_ = MF_STREAM_STATE_STOPPED;
}

}  // namespace korvex::media_source
