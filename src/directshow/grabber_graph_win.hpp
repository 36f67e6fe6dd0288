#pragma once

// A capture filter in a graph of its own, the way capture programs build
// one: into qedit's Sample Grabber, whose callback keeps what each sample
// carried, and on to a Null Renderer. The camera probe reads cameras through
// it; the tests read our own filter through it.

#include <windows.h>
// windows.h must come first.
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/result.hpp"

namespace korvex::directshow {

// What one sample carried when it reached the grabber.
struct GrabbedSample {
  bool timed = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  bool sync_point = false;
  bool discontinuity = false;
  long length = 0;
  std::vector<uint8_t> bytes;  // the first `length` bytes
};

// The grabber's callback, filled on the streaming thread. It keeps the
// newest `capacity` samples, so a reader that falls behind loses the oldest.
class SampleQueue final : public ISampleGrabberCB {
 public:
  explicit SampleQueue(size_t capacity) : capacity_(capacity) {}

  // Owned by its GrabberGraph, which outlives the grabber's use of it.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

  // Waits until `count` samples wait; false on time-out.
  bool wait_for(size_t count, std::chrono::milliseconds timeout);
  // The oldest waiting sample, waiting up to `timeout` for one.
  std::optional<GrabbedSample> pop(std::chrono::milliseconds timeout);
  std::vector<GrabbedSample> take_all();
  size_t count();

 private:
  const size_t capacity_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<GrabbedSample> samples_;
};

class GrabberGraph {
 public:
  // `direct`: the source's first output pin straight into the grabber, as
  // ReconnectEx needs; otherwise ICaptureGraphBuilder2::RenderStream with
  // PIN_CATEGORY_CAPTURE. Errors read "{step}: {cause}".
  static Result<std::unique_ptr<GrabberGraph>> build(IBaseFilter* source, bool direct = false,
                                                     size_t capacity = 256);
  // Stops the graph and takes the source out of it again.
  ~GrabberGraph();
  GrabberGraph(const GrabberGraph&) = delete;
  GrabberGraph& operator=(const GrabberGraph&) = delete;

  IMediaControl& control() { return *control_.Get(); }
  SampleQueue& samples() { return samples_; }

 private:
  explicit GrabberGraph(size_t capacity) : samples_(capacity) {}

  SampleQueue samples_;  // declared first: the grabber lets go of it before it goes
  Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
  Microsoft::WRL::ComPtr<IMediaControl> control_;
  Microsoft::WRL::ComPtr<IBaseFilter> source_;
  Microsoft::WRL::ComPtr<ISampleGrabber> grabber_;
};

// The first pin of `filter` in `direction`; null when there is none.
Microsoft::WRL::ComPtr<IPin> first_pin(IBaseFilter* filter, PIN_DIRECTION direction);

}  // namespace korvex::directshow
