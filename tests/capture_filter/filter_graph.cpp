#include "filter_graph.hpp"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "directshow/declarations_win.hpp"
#include "directshow/media_type_win.hpp"

namespace korvex::capture_filter::test {
namespace {

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

GetClassObject dll_get_class_object() {
  static const HMODULE module = [] {
    std::string path = KORVEX_FILTER_DLL;
    if (path.front() == '/') {
      path = "Z:" + path;  // Wine shows the Unix file system as drive Z:
    }
    return LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
  }();
  return module == nullptr ? nullptr
                           : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                 GetProcAddress(module, "DllGetClassObject")));
}

template <class Interface>
ComPtr<Interface> create(const CLSID& clsid) {
  ComPtr<Interface> object;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
  EXPECT_HRESULT_SUCCEEDED(hr);
  return object;
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

}  // namespace

ComPtr<IBaseFilter> create_filter() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const GetClassObject get_class_object = dll_get_class_object();
  EXPECT_NE(get_class_object, nullptr) << "no DllGetClassObject in " << KORVEX_FILTER_DLL;
  if (get_class_object == nullptr) {
    return nullptr;
  }
  ComPtr<IClassFactory> factory;
  ComPtr<IBaseFilter> filter;
  HRESULT hr = get_class_object(kFilterClsid, IID_PPV_ARGS(&factory));
  if (SUCCEEDED(hr)) {
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&filter));
  }
  EXPECT_HRESULT_SUCCEEDED(hr);
  return filter;
}

ComPtr<IPin> capture_pin(IBaseFilter* filter) {
  ComPtr<IPin> pin;
  EXPECT_HRESULT_SUCCEEDED(filter->FindPin(L"Capture", &pin));
  return pin;
}

STDMETHODIMP Grabbed::QueryInterface(REFIID riid, void** object) {
  if (riid == __uuidof(IUnknown) || riid == IID_ISampleGrabberCB) {
    *object = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP Grabbed::SampleCB(double, IMediaSample* sample) {
  Delivered got;
  got.timed = sample->GetTime(&got.start, &got.end) == S_OK;
  got.sync_point = sample->IsSyncPoint() == S_OK;
  got.discontinuity = sample->IsDiscontinuity() == S_OK;
  got.length = sample->GetActualDataLength();
  BYTE* data = nullptr;
  if (SUCCEEDED(sample->GetPointer(&data)) && got.length > 0) {
    got.bytes.assign(data, data + got.length);
  }
  {
    std::lock_guard guard(lock_);
    samples_.push_back(std::move(got));
  }
  arrived_.notify_all();
  return S_OK;
}

bool Grabbed::wait_for(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return arrived_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
}

std::vector<Delivered> Grabbed::take() {
  std::lock_guard guard(lock_);
  return std::exchange(samples_, {});
}

size_t Grabbed::count() {
  std::lock_guard guard(lock_);
  return samples_.size();
}

Graph Graph::build(IBaseFilter* filter, Grabbed& grabbed, bool direct) {
  Graph built;
  built.graph = create<IGraphBuilder>(CLSID_FilterGraph);
  built.grabber = create<IBaseFilter>(directshow::kSampleGrabberClsid);
  built.renderer = create<IBaseFilter>(directshow::kNullRendererClsid);
  if (!built.graph || !built.grabber || !built.renderer) {
    return Graph{};
  }
  ComPtr<ISampleGrabber> grabber;
  EXPECT_HRESULT_SUCCEEDED(built.grabber.As(&grabber));
  EXPECT_HRESULT_SUCCEEDED(grabber->SetCallback(&grabbed, 0));  // SampleCB
  EXPECT_HRESULT_SUCCEEDED(built.graph->AddFilter(filter, L"Korvex"));
  EXPECT_HRESULT_SUCCEEDED(built.graph->AddFilter(built.grabber.Get(), L"Grabber"));
  EXPECT_HRESULT_SUCCEEDED(built.graph->AddFilter(built.renderer.Get(), L"Renderer"));
  HRESULT hr = S_OK;
  if (direct) {
    hr = built.graph->ConnectDirect(capture_pin(filter).Get(),
                                    first_pin(built.grabber.Get(), PINDIR_INPUT).Get(), nullptr);
    if (SUCCEEDED(hr)) {
      hr = built.graph->ConnectDirect(first_pin(built.grabber.Get(), PINDIR_OUTPUT).Get(),
                                      first_pin(built.renderer.Get(), PINDIR_INPUT).Get(), nullptr);
    }
  } else {
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    hr = builder ? builder->SetFiltergraph(built.graph.Get()) : E_FAIL;
    if (SUCCEEDED(hr)) {
      hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter,
                                 built.grabber.Get(), built.renderer.Get());
    }
  }
  EXPECT_HRESULT_SUCCEEDED(hr);
  EXPECT_HRESULT_SUCCEEDED(built.graph.As(&built.control));
  built.filter = filter;
  return SUCCEEDED(hr) ? std::move(built) : Graph{};
}

Graph::~Graph() {
  if (control) {
    control->Stop();
  }
  if (graph && filter) {
    graph->RemoveFilter(filter.Get());  // the filter goes on to the next graph
  }
}

AM_MEDIA_TYPE connection_type(IBaseFilter* filter) {
  AM_MEDIA_TYPE type{};
  if (FAILED(capture_pin(filter)->ConnectionMediaType(&type))) {
    type = AM_MEDIA_TYPE{};
  }
  return type;
}

size_t thread_count() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

}  // namespace korvex::capture_filter::test
