#pragma once

// The "Korvex" DirectShow video capture source: one live source filter with
// one capture pin. It streams only while running; stopped, it holds no thread.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include <mutex>
#include <string>

#include "capture_filter/capture_pin_win.hpp"
#include "media_source/ref_count_win.hpp"

namespace korvex::capture_filter {

class CaptureFilter final : public IBaseFilter, public IAMFilterMiscFlags {
 public:
  static HRESULT create(Microsoft::WRL::ComPtr<CaptureFilter>& out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;

  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  // IAMFilterMiscFlags: a live source, so the graph does not wait for it to cue.
  STDMETHODIMP_(ULONG) GetMiscFlags() override;

  // For the pin. The lock is recursive: a peer called while it is held may
  // call back into the pin on the same thread.
  std::recursive_mutex& lock() { return lock_; }
  FILTER_STATE state() const { return state_; }   // under the lock
  IFilterGraph* graph() const { return graph_; }  // under the lock; not counted

 private:
  CaptureFilter();
  ~CaptureFilter();

  media_source::RefCount refs_;
  std::recursive_mutex lock_;
  FILTER_STATE state_ = State_Stopped;
  Microsoft::WRL::ComPtr<IReferenceClock> clock_;
  // The graph holds the filter; the filter must not hold the graph.
  IFilterGraph* graph_ = nullptr;
  std::wstring name_;
  CapturePin pin_;
};

}  // namespace korvex::capture_filter
