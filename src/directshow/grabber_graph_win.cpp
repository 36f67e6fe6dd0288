#include "directshow/grabber_graph_win.hpp"

#include <utility>

#include "directshow/declarations_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::directshow {
namespace {

using Microsoft::WRL::ComPtr;

template <class Interface>
HRESULT create(const CLSID& clsid, ComPtr<Interface>& out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&out));
}

}  // namespace

STDMETHODIMP SampleQueue::QueryInterface(REFIID riid, void** object) {
  if (riid == __uuidof(IUnknown) || riid == IID_ISampleGrabberCB) {
    *object = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP SampleQueue::SampleCB(double, IMediaSample* sample) {
  GrabbedSample got;
  got.timed = sample->GetTime(&got.start, &got.end) == S_OK;
  got.sync_point = sample->IsSyncPoint() == S_OK;
  got.discontinuity = sample->IsDiscontinuity() == S_OK;
  got.length = sample->GetActualDataLength();
  BYTE* data = nullptr;
  try {
    if (SUCCEEDED(sample->GetPointer(&data)) && got.length > 0) {
      got.bytes.assign(data, data + got.length);
    }
    std::lock_guard guard(lock_);
    if (samples_.size() == capacity_) {
      samples_.pop_front();
    }
    samples_.push_back(std::move(got));
  } catch (...) {
    return E_OUTOFMEMORY;  // the sample is lost, not the stream
  }
  arrived_.notify_all();
  return S_OK;
}

bool SampleQueue::wait_for(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return arrived_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
}

std::optional<GrabbedSample> SampleQueue::pop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  if (!arrived_.wait_for(lock, timeout, [&] { return !samples_.empty(); })) {
    return std::nullopt;
  }
  GrabbedSample oldest = std::move(samples_.front());
  samples_.pop_front();
  return oldest;
}

std::vector<GrabbedSample> SampleQueue::take_all() {
  std::lock_guard guard(lock_);
  std::vector<GrabbedSample> all(std::make_move_iterator(samples_.begin()),
                                 std::make_move_iterator(samples_.end()));
  samples_.clear();
  return all;
}

size_t SampleQueue::count() {
  std::lock_guard guard(lock_);
  return samples_.size();
}

ComPtr<IPin> first_pin(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) {
    return nullptr;
  }
  for (ComPtr<IPin> pin; pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
    PIN_DIRECTION found;
    if (SUCCEEDED(pin->QueryDirection(&found)) && found == direction) {
      return pin;
    }
  }
  return nullptr;
}

Result<std::unique_ptr<GrabberGraph>> GrabberGraph::build(IBaseFilter* source, bool direct,
                                                          size_t capacity) {
  std::unique_ptr<GrabberGraph> built(new GrabberGraph(capacity));
  ComPtr<IBaseFilter> grabber;
  ComPtr<IBaseFilter> renderer;
  HRESULT hr = create(CLSID_FilterGraph, built->graph_);
  if (FAILED(hr)) {
    return platform::step_failure("CoCreateInstance(FilterGraph)", hr);
  }
  if (FAILED(hr = create(kSampleGrabberClsid, grabber)) ||
      FAILED(hr = grabber.As(&built->grabber_))) {
    return platform::step_failure("CoCreateInstance(SampleGrabber)", hr);
  }
  if (FAILED(hr = create(kNullRendererClsid, renderer))) {
    return platform::step_failure("CoCreateInstance(NullRenderer)", hr);
  }
  if (FAILED(hr = built->grabber_->SetCallback(&built->samples_, 0))) {  // SampleCB
    return platform::step_failure("ISampleGrabber::SetCallback", hr);
  }
  if (FAILED(hr = built->graph_->AddFilter(source, L"Camera")) ||
      FAILED(hr = built->graph_->AddFilter(grabber.Get(), L"Grabber")) ||
      FAILED(hr = built->graph_->AddFilter(renderer.Get(), L"Renderer"))) {
    return platform::step_failure("IFilterGraph::AddFilter", hr);
  }
  built->source_ = source;
  if (direct) {
    const ComPtr<IPin> out = first_pin(source, PINDIR_OUTPUT);
    if (!out) {
      return fail("the camera has no output pin");
    }
    if (FAILED(hr = built->graph_->ConnectDirect(
                   out.Get(), first_pin(grabber.Get(), PINDIR_INPUT).Get(), nullptr)) ||
        FAILED(hr = built->graph_->ConnectDirect(first_pin(grabber.Get(), PINDIR_OUTPUT).Get(),
                                                 first_pin(renderer.Get(), PINDIR_INPUT).Get(),
                                                 nullptr))) {
      return platform::step_failure("IGraphBuilder::ConnectDirect", hr);
    }
  } else {
    ComPtr<ICaptureGraphBuilder2> builder;
    if (FAILED(hr = create(CLSID_CaptureGraphBuilder2, builder)) ||
        FAILED(hr = builder->SetFiltergraph(built->graph_.Get()))) {
      return platform::step_failure("CoCreateInstance(CaptureGraphBuilder2)", hr);
    }
    if (FAILED(hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source,
                                          grabber.Get(), renderer.Get()))) {
      return platform::step_failure("ICaptureGraphBuilder2::RenderStream", hr);
    }
  }
  if (FAILED(hr = built->graph_.As(&built->control_))) {
    return platform::step_failure("IMediaControl", hr);
  }
  return built;
}

GrabberGraph::~GrabberGraph() {
  if (control_) {
    control_->Stop();
  }
  if (grabber_) {
    grabber_->SetCallback(nullptr, 0);
  }
  if (graph_ && source_) {
    graph_->RemoveFilter(source_.Get());  // the source may go on to another graph
  }
}

}  // namespace korvex::directshow
