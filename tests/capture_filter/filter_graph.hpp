#pragma once

// The built KorvexFilter.dll loaded as COM loads it, and DirectShow graphs
// around its filter the way capture programs build them: into qedit's
// Sample Grabber, whose callback keeps what each sample carried, and on to
// a Null Renderer.

#include <windows.h>
// windows.h must come first.
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace korvex::capture_filter::test {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

// Written out here rather than taken from the DLL's sources, so that a DLL
// answering to another class fails.
inline constexpr CLSID kFilterClsid = {
    0xDF38157C, 0xC0F1, 0x4D8F, {0x9A, 0x5A, 0xA1, 0x71, 0xD4, 0xE6, 0xAA, 0x5C}};

// DllGetClassObject, then CreateInstance(IBaseFilter); null (and a test
// failure) when any step fails.
ComPtr<IBaseFilter> create_filter();

// The filter's capture pin, and its interfaces.
ComPtr<IPin> capture_pin(IBaseFilter* filter);
template <class Interface>
ComPtr<Interface> pin_as(IBaseFilter* filter) {
  ComPtr<Interface> out;
  capture_pin(filter).As(&out);
  return out;
}

// What one sample carried when it reached the grabber.
struct Delivered {
  bool timed = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  bool sync_point = false;
  bool discontinuity = false;
  long length = 0;
  std::vector<uint8_t> bytes;  // the first `length` bytes
};

class Grabbed final : public ISampleGrabberCB {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives on the test's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

  // Waits until `count` samples came in all; false on time-out.
  bool wait_for(size_t count, std::chrono::milliseconds timeout = 10s);
  std::vector<Delivered> take();
  size_t count();

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Delivered> samples_;
};

// filter -> Sample Grabber -> Null Renderer in a graph of its own.
struct Graph {
  // `direct`: pins connected one to one, as ReconnectEx needs; otherwise
  // ICaptureGraphBuilder2::RenderStream with PIN_CATEGORY_CAPTURE builds it.
  // Null members (and a test failure) when a step fails.
  static Graph build(IBaseFilter* filter, Grabbed& grabbed, bool direct = false);
  Graph() = default;
  Graph(Graph&&) = default;  // the moved-from graph stops and removes nothing
  ~Graph();

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IBaseFilter> filter;
  ComPtr<IBaseFilter> grabber;
  ComPtr<IBaseFilter> renderer;
};

// The connection's media type; majortype GUID_NULL when not connected.
AM_MEDIA_TYPE connection_type(IBaseFilter* filter);

// The threads of this process, for "no thread while stopped".
size_t thread_count();

}  // namespace korvex::capture_filter::test
