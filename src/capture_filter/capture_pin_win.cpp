#include "capture_filter/capture_pin_win.hpp"

#include <objbase.h>
// objbase.h must come first.
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "capture_filter/capture_filter_win.hpp"
#include "capture_filter/enum_media_types_win.hpp"
#include "capture_filter/filter_class_win.hpp"
#include "capture_filter/video_media_type_win.hpp"
#include "media_source/com_guard_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::capture_filter {
namespace {

using Microsoft::WRL::ComPtr;

// Enough for a renderer holding one picture, one on its way and one being drawn.
constexpr long kBuffers = 3;

// Not in every MinGW: IKsPropertySet's "no such set" and "no such property".
constexpr HRESULT kPropertySetUnsupported = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
constexpr HRESULT kPropertyUnsupported = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);

}  // namespace

CapturePin::CapturePin(CaptureFilter& filter)
    : filter_(filter),
      section_(section::SectionHold::for_camera()),
      picture_([section = section_] { return section->view(); }, section::activity_tick_now) {}

CapturePin::~CapturePin() = default;

STDMETHODIMP CapturePin::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IPin)) {
    *object = static_cast<IPin*>(this);
  } else if (riid == __uuidof(IAMStreamConfig)) {
    *object = static_cast<IAMStreamConfig*>(this);
  } else if (riid == __uuidof(IKsPropertySet)) {
    *object = static_cast<IKsPropertySet*>(this);
  } else if (riid == __uuidof(IAMDroppedFrames)) {
    *object = static_cast<IAMDroppedFrames*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CapturePin::AddRef() {
  return filter_.AddRef();
}

STDMETHODIMP_(ULONG) CapturePin::Release() {
  return filter_.Release();
}

StreamChoice CapturePin::current_choice() const {
  if (peer_) {
    return connected_choice_;
  }
  return chosen_.value_or(kDefaultChoice);
}

STDMETHODIMP CapturePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  if (receiver == nullptr) {
    return E_POINTER;
  }
  return media_source::guarded([&] {
    std::lock_guard guard(filter_.lock());
    if (peer_) {
      return VFW_E_ALREADY_CONNECTED;
    }
    if (filter_.state() != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    // After SetFormat only that format; otherwise every one, in order.
    std::vector<StreamChoice> candidates;
    if (chosen_) {
      candidates.push_back(*chosen_);
    } else {
      for (const CaptureFormat& format : kCaptureFormats) {
        candidates.push_back({format, kShortestInterval});
      }
    }
    if (type != nullptr && type->majortype != GUID_NULL && type->subtype != GUID_NULL &&
        type->formattype != GUID_NULL) {
      // A whole type (ReconnectEx passes one) is taken as it is, rate and all.
      const std::optional<StreamChoice> asked = choice_of(*type);
      if (!asked) {
        return VFW_E_TYPE_NOT_ACCEPTED;
      }
      candidates.assign(1, *asked);
    }
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (const StreamChoice& choice : candidates) {
      if (type != nullptr && !allows(*type, choice)) {
        continue;
      }
      last = try_connect(receiver, choice);
      if (SUCCEEDED(last)) {
        return S_OK;
      }
    }
    return last;
  });
}

HRESULT CapturePin::try_connect(IPin* receiver, const StreamChoice& choice) {
  directshow::MediaType type;
  HRESULT hr = make_media_type(choice, type);
  if (FAILED(hr)) {
    return hr;
  }
  hr = receiver->ReceiveConnection(this, &type.get());
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  hr = receiver->QueryInterface(IID_PPV_ARGS(&input));
  if (FAILED(hr)) {
    hr = VFW_E_NO_TRANSPORT;
  } else {
    hr = decide_allocator(*input.Get(), choice, allocator);
  }
  if (FAILED(hr)) {
    receiver->Disconnect();
    return hr;
  }
  peer_ = receiver;
  peer_input_ = std::move(input);
  allocator_ = std::move(allocator);
  connected_choice_ = choice;
  connected_type_ = std::move(type);
  return S_OK;
}

HRESULT CapturePin::decide_allocator(IMemInputPin& input, const StreamChoice& choice,
                                     ComPtr<IMemAllocator>& out) {
  ALLOCATOR_PROPERTIES wanted{};
  (void)input.GetAllocatorRequirements(&wanted);  // most renderers have none
  ALLOCATOR_PROPERTIES asked{};
  asked.cBuffers = std::max(wanted.cBuffers, kBuffers);
  asked.cbBuffer = std::max(wanted.cbBuffer, static_cast<long>(image_size(choice.format)));
  asked.cbAlign = std::max(wanted.cbAlign, 1L);
  asked.cbPrefix = wanted.cbPrefix;

  // The downstream pin's allocator first, then a plain memory allocator.
  for (int attempt = 0; attempt < 2; ++attempt) {
    ComPtr<IMemAllocator> allocator;
    HRESULT hr = attempt == 0 ? input.GetAllocator(&allocator)
                              : CoCreateInstance(CLSID_MemoryAllocator, nullptr,
                                                 CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&allocator));
    if (FAILED(hr) || !allocator) {
      continue;
    }
    ALLOCATOR_PROPERTIES actual{};
    hr = allocator->SetProperties(&asked, &actual);
    if (FAILED(hr) || actual.cbBuffer < asked.cbBuffer) {
      continue;
    }
    if (SUCCEEDED(input.NotifyAllocator(allocator.Get(), FALSE))) {
      out = std::move(allocator);
      return S_OK;
    }
  }
  return platform::traced_failure("choosing an allocator", VFW_E_NO_ALLOCATOR);
}

STDMETHODIMP CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  return E_UNEXPECTED;  // an output pin connects, it is never connected to
}

STDMETHODIMP CapturePin::Disconnect() {
  std::lock_guard guard(filter_.lock());
  if (filter_.state() != State_Stopped) {
    return VFW_E_NOT_STOPPED;
  }
  if (!peer_) {
    return S_FALSE;
  }
  allocator_->Decommit();
  allocator_.Reset();
  peer_input_.Reset();
  peer_.Reset();
  connected_type_ = directshow::MediaType();
  return S_OK;
}

STDMETHODIMP CapturePin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(filter_.lock());
  *pin = peer_.Get();
  if (*pin == nullptr) {
    return VFW_E_NOT_CONNECTED;
  }
  (*pin)->AddRef();
  return S_OK;
}

STDMETHODIMP CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(filter_.lock());
  if (!peer_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return directshow::copy_media_type(connected_type_.get(), *type);
}

STDMETHODIMP CapturePin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  *info = PIN_INFO{};
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = PINDIR_OUTPUT;
  wcsncpy(info->achName, kPinName, MAX_PIN_NAME - 1);
  return S_OK;
}

STDMETHODIMP CapturePin::QueryDirection(PIN_DIRECTION* direction) {
  if (direction == nullptr) {
    return E_POINTER;
  }
  *direction = PINDIR_OUTPUT;
  return S_OK;
}

STDMETHODIMP CapturePin::QueryId(LPWSTR* id) {
  if (id == nullptr) {
    return E_POINTER;
  }
  const size_t bytes = sizeof(kPinName);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (*id == nullptr) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(*id, kPinName, bytes);
  return S_OK;
}

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  return choice_of(*type) ? S_OK : S_FALSE;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) {
    return E_POINTER;
  }
  *types = nullptr;
  return media_source::guarded([&] {
    std::vector<StreamChoice> choices;
    {
      std::lock_guard guard(filter_.lock());
      if (chosen_) {
        choices.push_back(*chosen_);  // what SetFormat chose is all there is
      } else {
        for (const CaptureFormat& format : kCaptureFormats) {
          choices.push_back({format, kShortestInterval});
        }
      }
    }
    ComPtr<MediaTypeEnumerator> enumerator;
    const HRESULT hr = make_com_object(enumerator, this, std::move(choices), size_t{0});
    *types = SUCCEEDED(hr) ? enumerator.Detach() : nullptr;
    return hr;
  });
}

STDMETHODIMP CapturePin::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}

STDMETHODIMP CapturePin::EndOfStream() {
  return E_UNEXPECTED;
}

STDMETHODIMP CapturePin::BeginFlush() {
  return E_UNEXPECTED;
}

STDMETHODIMP CapturePin::EndFlush() {
  return E_UNEXPECTED;
}

STDMETHODIMP CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
  return E_UNEXPECTED;
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* type) {
  std::optional<StreamChoice> choice;
  if (type != nullptr) {  // null goes back to the default
    choice = choice_of(*type);
    if (!choice) {
      return VFW_E_INVALIDMEDIATYPE;
    }
  }
  ComPtr<IFilterGraph2> graph;
  directshow::MediaType reconnect_with;
  {
    std::lock_guard guard(filter_.lock());
    if (filter_.state() != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    const StreamChoice wanted = choice.value_or(kDefaultChoice);
    if (peer_ && wanted != connected_choice_) {
      HRESULT hr = make_media_type(wanted, reconnect_with);
      if (FAILED(hr)) {
        return hr;
      }
      if (peer_->QueryAccept(&reconnect_with.get()) != S_OK) {
        return VFW_E_INVALIDMEDIATYPE;
      }
      if (filter_.graph() == nullptr ||
          FAILED(filter_.graph()->QueryInterface(IID_PPV_ARGS(&graph)))) {
        return VFW_E_NOT_IN_GRAPH;
      }
    }
    chosen_ = choice;
  }
  // Outside the lock: the graph disconnects and connects the pin again.
  return graph ? graph->ReconnectEx(this, &reconnect_with.get()) : S_OK;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  StreamChoice choice;
  {
    std::lock_guard guard(filter_.lock());
    choice = current_choice();
  }
  directshow::MediaType made;
  const HRESULT hr = make_media_type(choice, made);
  *type = SUCCEEDED(hr) ? directshow::new_media_type(made.get()) : nullptr;
  return FAILED(hr) ? hr : (*type != nullptr ? S_OK : E_OUTOFMEMORY);
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (count == nullptr || size == nullptr) {
    return E_POINTER;
  }
  *count = static_cast<int>(kCaptureFormats.size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (type == nullptr || caps == nullptr) {
    return E_POINTER;
  }
  *type = nullptr;
  if (index < 0 || static_cast<size_t>(index) >= kCaptureFormats.size()) {
    return S_FALSE;
  }
  const CaptureFormat& format = kCaptureFormats[static_cast<size_t>(index)];
  directshow::MediaType made;
  const HRESULT hr = make_media_type({format, kShortestInterval}, made);
  if (FAILED(hr)) {
    return hr;
  }
  *type = directshow::new_media_type(made.get());
  if (*type == nullptr) {
    return E_OUTOFMEMORY;
  }
  const VIDEO_STREAM_CONFIG_CAPS filled = stream_caps(format);
  std::memcpy(caps, &filled, sizeof filled);
  return S_OK;
}

STDMETHODIMP CapturePin::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) {
  return E_NOTIMPL;  // the pin's category is fixed
}

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD data_size,
                             DWORD* returned) {
  if (set != AMPROPSETID_Pin) {
    return kPropertySetUnsupported;
  }
  if (id != AMPROPERTY_PIN_CATEGORY) {
    return kPropertyUnsupported;
  }
  if (returned != nullptr) {
    *returned = sizeof(GUID);
  }
  if (data == nullptr) {
    return returned != nullptr ? S_OK : E_POINTER;  // the caller asks for the size
  }
  if (data_size < sizeof(GUID)) {
    return E_UNEXPECTED;
  }
  std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
  return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) {
    return kPropertySetUnsupported;
  }
  if (id != AMPROPERTY_PIN_CATEGORY) {
    return kPropertyUnsupported;
  }
  if (support != nullptr) {
    *support = KSPROPERTY_SUPPORT_GET;
  }
  return S_OK;
}

STDMETHODIMP CapturePin::GetNumDropped(long* dropped) {
  if (dropped == nullptr) {
    return E_POINTER;
  }
  *dropped = counts_.dropped.load();
  return S_OK;
}

STDMETHODIMP CapturePin::GetNumNotDropped(long* delivered) {
  if (delivered == nullptr) {
    return E_POINTER;
  }
  *delivered = counts_.delivered.load();
  return S_OK;
}

STDMETHODIMP CapturePin::GetDroppedInfo(long, long* frames, long* copied) {
  if (frames == nullptr || copied == nullptr) {
    return E_POINTER;
  }
  *copied = 0;  // which frames were dropped is not kept
  return S_OK;
}

STDMETHODIMP CapturePin::GetAverageFrameSize(long* size) {
  if (size == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(filter_.lock());
  *size = static_cast<long>(image_size(current_choice().format));
  return S_OK;
}

HRESULT CapturePin::commit() {
  return allocator_ ? allocator_->Commit() : S_OK;
}

HRESULT CapturePin::run_streaming(IReferenceClock* clock, REFERENCE_TIME start) {
  if (stream_) {
    stream_->resume(start);
    return S_OK;
  }
  if (!peer_) {
    return S_OK;  // nothing to stream to
  }
  StreamSetup setup;
  setup.choice = connected_choice_;
  setup.allocator = allocator_;
  setup.input = peer_input_;
  setup.clock = clock;
  if (filter_.graph() != nullptr) {
    filter_.graph()->QueryInterface(IID_PPV_ARGS(&setup.events));
  }
  setup.start = start;
  setup.picture = &picture_;
  setup.counts = &counts_;
  return PictureStream::start(std::move(setup), stream_);
}

void CapturePin::pause_streaming() {
  if (stream_) {
    stream_->pause();
  }
}

void CapturePin::stop_streaming() {
  std::unique_ptr<PictureStream> stream;
  ComPtr<IMemAllocator> allocator;
  {
    std::lock_guard guard(filter_.lock());
    stream = std::move(stream_);
    allocator = allocator_;
  }
  if (allocator) {
    allocator->Decommit();  // wakes a thread waiting for a buffer
  }
  stream.reset();
}

}  // namespace korvex::capture_filter
