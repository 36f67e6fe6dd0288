#pragma once

// The class factory DllGetClassObject hands out for the filter's class.

#include <windows.h>
// windows.h must come first.
#include <unknwn.h>
#include <wrl/client.h>

#include "media_source/ref_count_win.hpp"

namespace korvex::capture_filter {

class FilterFactory final : public IClassFactory {
 public:
  static HRESULT create(Microsoft::WRL::ComPtr<FilterFactory>& out);

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  FilterFactory() = default;
  ~FilterFactory() = default;

  media_source::RefCount refs_;
};

}  // namespace korvex::capture_filter
