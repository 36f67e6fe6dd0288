#include "capture_filter/capture_filter_win.hpp"

#include <objbase.h>
// objbase.h must come first.
#include <vfwmsgs.h>

#include <new>

#include "capture_filter/enum_pins_win.hpp"
#include "capture_filter/filter_class_win.hpp"

namespace korvex::capture_filter {

using Microsoft::WRL::ComPtr;

HRESULT CaptureFilter::create(ComPtr<CaptureFilter>& out) {
  out = new (std::nothrow) CaptureFilter();
  return out ? S_OK : E_OUTOFMEMORY;
}

CaptureFilter::CaptureFilter() : pin_(*this) {}

// The graph stops a filter before letting it go; this is for one that did not.
CaptureFilter::~CaptureFilter() {
  pin_.stop_streaming();
}

STDMETHODIMP CaptureFilter::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IPersist) || riid == __uuidof(IMediaFilter) ||
      riid == __uuidof(IBaseFilter)) {
    *object = static_cast<IBaseFilter*>(this);
  } else if (riid == __uuidof(IAMFilterMiscFlags)) {
    *object = static_cast<IAMFilterMiscFlags*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CaptureFilter::Release() {
  const ULONG left = refs_.remove();
  if (left == 0) {
    delete this;
  }
  return left;
}

STDMETHODIMP CaptureFilter::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) {
    return E_POINTER;
  }
  *clsid = kFilterClsid;
  return S_OK;
}

STDMETHODIMP CaptureFilter::Stop() {
  {
    std::lock_guard guard(lock_);
    if (state_ == State_Stopped) {
      return S_OK;
    }
    state_ = State_Stopped;
  }
  pin_.stop_streaming();
  return S_OK;
}

STDMETHODIMP CaptureFilter::Pause() {
  std::lock_guard guard(lock_);
  if (state_ == State_Stopped) {
    const HRESULT hr = pin_.commit();
    if (FAILED(hr)) {
      return hr;
    }
  } else if (state_ == State_Running) {
    pin_.pause_streaming();
  }
  state_ = State_Paused;
  return S_OK;
}

STDMETHODIMP CaptureFilter::Run(REFERENCE_TIME start) {
  std::lock_guard guard(lock_);
  if (state_ == State_Running) {
    return S_OK;
  }
  if (state_ == State_Stopped) {
    const HRESULT hr = pin_.commit();
    if (FAILED(hr)) {
      return hr;
    }
  }
  const HRESULT hr = pin_.run_streaming(clock_.Get(), start);
  if (FAILED(hr)) {
    return hr;
  }
  state_ = State_Running;
  return S_OK;
}

STDMETHODIMP CaptureFilter::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  *state = state_;
  // A live source has nothing to show while paused.
  return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CaptureFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard guard(lock_);
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP CaptureFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  *clock = clock_.Get();
  if (*clock != nullptr) {
    (*clock)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP CaptureFilter::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) {
    return E_POINTER;
  }
  *pins = nullptr;
  ComPtr<PinEnumerator> enumerator;
  const HRESULT hr = make_com_object(enumerator, this, &pin_, 0UL);
  if (SUCCEEDED(hr)) {
    *pins = enumerator.Detach();
  }
  return hr;
}

STDMETHODIMP CaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (id == nullptr || pin == nullptr) {
    return E_POINTER;
  }
  if (wcscmp(id, kPinName) != 0) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = &pin_;
  pin_.AddRef();
  return S_OK;
}

STDMETHODIMP CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  std::lock_guard guard(lock_);
  *info = FILTER_INFO{};
  wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
  info->pGraph = graph_;
  if (graph_ != nullptr) {
    graph_->AddRef();
  }
  return S_OK;
}

STDMETHODIMP CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard guard(lock_);
  graph_ = graph;
  name_ = name != nullptr ? name : L"";
  return S_OK;
}

STDMETHODIMP CaptureFilter::QueryVendorInfo(LPWSTR*) {
  return E_NOTIMPL;
}

STDMETHODIMP_(ULONG) CaptureFilter::GetMiscFlags() {
  return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

}  // namespace korvex::capture_filter
