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
#include "media_source/media_source_win.hpp"
#include "platform/debug_trace_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

// Samples the pipeline's allocator keeps for us: room for the frame server
// to hold a few while the next picture is rendered.
constexpr DWORD kAllocatorSamples = 8;

constexpr size_t kMediaTypes = picture::kCameraFormats.size();

// What the frame server looks for on a color capture stream, on its
// attributes and on its descriptor alike.
HRESULT describe_capture_stream(IMFAttributes* attributes) {
  KORVEX_RETURN_IF_FAILED(
      "MF_DEVICESTREAM_STREAM_CATEGORY",
      attributes->SetGUID(MF_DEVICESTREAM_STREAM_CATEGORY, PINNAME_VIDEO_CAPTURE));
  KORVEX_RETURN_IF_FAILED("MF_DEVICESTREAM_STREAM_ID",
                          attributes->SetUINT32(MF_DEVICESTREAM_STREAM_ID, 0));
  KORVEX_RETURN_IF_FAILED("MF_DEVICESTREAM_FRAMESERVER_SHARED",
                          attributes->SetUINT32(MF_DEVICESTREAM_FRAMESERVER_SHARED, 1));
  KORVEX_RETURN_IF_FAILED(
      "MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES",
      attributes->SetUINT32(MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES, MFFrameSourceTypes_Color));
  return S_OK;
}

// Every offered media type, the current type the first.
HRESULT create_descriptor(ComPtr<IMFStreamDescriptor>& out) {
  std::array<ComPtr<IMFMediaType>, kMediaTypes> types;
  std::array<IMFMediaType*, kMediaTypes> list{};
  for (size_t i = 0; i < types.size(); ++i) {
    KORVEX_RETURN_IF_FAILED("media type", create_media_type(picture::kCameraFormats[i], types[i]));
    list[i] = types[i].Get();
  }
  ComPtr<IMFStreamDescriptor> descriptor;
  KORVEX_RETURN_IF_FAILED(
      "MFCreateStreamDescriptor",
      MFCreateStreamDescriptor(0, static_cast<DWORD>(list.size()), list.data(), &descriptor));
  ComPtr<IMFMediaTypeHandler> handler;
  KORVEX_RETURN_IF_FAILED("GetMediaTypeHandler", descriptor->GetMediaTypeHandler(&handler));
  KORVEX_RETURN_IF_FAILED("SetCurrentMediaType", handler->SetCurrentMediaType(list[0]));
  KORVEX_RETURN_IF_FAILED("stream descriptor", describe_capture_stream(descriptor.Get()));
  out = std::move(descriptor);
  return S_OK;
}

HRESULT prepare_allocator(IMFVideoSampleAllocator* allocator, const StreamFormat& format) {
  allocator->UninitializeSampleAllocator();  // from an earlier run, if any
  ComPtr<IMFMediaType> type;
  KORVEX_RETURN_IF_FAILED("allocator media type", create_media_type(format, type));
  KORVEX_RETURN_IF_FAILED("InitializeSampleAllocator",
                          allocator->InitializeSampleAllocator(kAllocatorSamples, type.Get()));
  return S_OK;
}

}  // namespace

HRESULT MediaStream::create(MediaSource* source, std::shared_ptr<section::SectionHold> section,
                            ComPtr<MediaStream>& out) {
  ComPtr<MediaStream> stream(new (std::nothrow) MediaStream());
  if (!stream) {
    return E_OUTOFMEMORY;
  }
  if (const HRESULT hr = stream->initialize(); FAILED(hr)) {
    if (stream->events_) {
      stream->events_->Shutdown();
    }
    return hr;
  }
  stream->source_ = source;
  stream->section_ = std::move(section);
  out = std::move(stream);
  return S_OK;
}

HRESULT MediaStream::initialize() {
  KORVEX_RETURN_IF_FAILED("stream MFCreateEventQueue", MFCreateEventQueue(&events_));
  KORVEX_RETURN_IF_FAILED("stream descriptor", create_descriptor(descriptor_));
  KORVEX_RETURN_IF_FAILED("stream MFCreateAttributes", MFCreateAttributes(&attributes_, 4));
  KORVEX_RETURN_IF_FAILED("stream attributes", describe_capture_stream(attributes_.Get()));
  return S_OK;
}

MediaStream::~MediaStream() = default;  // the worker, declared last, stops first

template <class Body>
HRESULT MediaStream::serve(Body&& body) {
  return guarded([&]() -> HRESULT {
    std::lock_guard guard(lock_);
    return shut_down_ ? MF_E_SHUTDOWN : body();
  });
}

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
  // The source may be in its last Release on another thread; it takes our
  // lock to forget us before it is freed, so while we hold the lock the
  // pointer is valid, and a count already at zero is never revived.
  return serve([&] {
    if (source_ == nullptr || !source_->add_ref_if_alive()) {
      return MF_E_SHUTDOWN;
    }
    *source = static_cast<IMFMediaSourceEx*>(source_);
    return S_OK;
  });
}

STDMETHODIMP MediaStream::GetStreamDescriptor(IMFStreamDescriptor** descriptor) {
  if (descriptor == nullptr) {
    return E_POINTER;
  }
  *descriptor = nullptr;
  return serve([&] { return descriptor_.CopyTo(descriptor); });
}

STDMETHODIMP MediaStream::RequestSample(IUnknown* token) {
  return serve([&] {
    // Paused (an application minimised, a second one opening the camera),
    // the stream runs on but takes no new requests.
    if (state_ != MF_STREAM_STATE_RUNNING || !worker_) {
      return MF_E_MEDIA_SOURCE_WRONGSTATE;
    }
    return worker_->request(token);
  });
}

STDMETHODIMP MediaStream::SetStreamState(MF_STREAM_STATE state) {
  return serve([&]() -> HRESULT {
    if (state == state_) {
      return S_OK;
    }
    switch (state) {
      case MF_STREAM_STATE_RUNNING: {
        ComPtr<IMFMediaTypeHandler> handler;
        ComPtr<IMFMediaType> type;
        KORVEX_RETURN_IF_FAILED("GetMediaTypeHandler", descriptor_->GetMediaTypeHandler(&handler));
        KORVEX_RETURN_IF_FAILED("GetCurrentMediaType", handler->GetCurrentMediaType(&type));
        const std::optional<StreamFormat> format = format_of(type.Get());
        if (!format) {
          return platform::traced_failure("stream state running", MF_E_INVALIDMEDIATYPE);
        }
        platform::trace(state_ == MF_STREAM_STATE_PAUSED ? "stream: running again"
                                                         : "stream: running");
        return run_locked(*format);
      }
      case MF_STREAM_STATE_PAUSED:
        if (state_ != MF_STREAM_STATE_RUNNING) {
          return platform::traced_failure("stream state paused", MF_E_INVALID_STATE_TRANSITION);
        }
        platform::trace("stream: paused");
        state_ = MF_STREAM_STATE_PAUSED;
        return S_OK;
      case MF_STREAM_STATE_STOPPED:
        platform::trace("stream: stopped");
        stop_locked();
        return S_OK;
    }
    return E_INVALIDARG;
  });
}

STDMETHODIMP MediaStream::GetStreamState(MF_STREAM_STATE* state) {
  if (state == nullptr) {
    return E_POINTER;
  }
  return serve([&] {
    *state = state_;
    return S_OK;
  });
}

HRESULT MediaStream::run(const StreamFormat& format) {
  return serve([&] { return run_locked(format); });
}

HRESULT MediaStream::queue_started(const PROPVARIANT& start_time) {
  KORVEX_RETURN_IF_FAILED("MEStreamStarted", events_->QueueEventParamVar(MEStreamStarted, GUID_NULL,
                                                                         S_OK, &start_time));
  return S_OK;
}

void MediaStream::stop() {
  std::lock_guard guard(lock_);
  const bool was_active = state_ != MF_STREAM_STATE_STOPPED;
  stop_locked();
  if (was_active) {
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
  section_.reset();
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
  if (state_ != MF_STREAM_STATE_STOPPED && worker_ && worker_->format() == format) {
    state_ = MF_STREAM_STATE_RUNNING;
    return S_OK;
  }
  stop_locked();
  // Without a usable allocator of the pipeline's, samples get buffers of our own.
  ComPtr<IMFVideoSampleAllocator> allocator;
  if (allocator_ && SUCCEEDED(prepare_allocator(allocator_.Get(), format))) {
    allocator = allocator_;
  }
  auto worker = std::make_unique<PictureWorker>(format, std::move(allocator), events_, section_);
  KORVEX_RETURN_IF_FAILED("picture thread", worker->start());
  worker_ = std::move(worker);
  state_ = MF_STREAM_STATE_RUNNING;
  platform::trace("stream: " + picture::describe(format));
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
