#pragma once

// The class factory DllGetClassObject hands out for the source's class.

#include <windows.h>
// windows.h must come first.
#include <unknwn.h>
#include <wrl/client.h>

#include "media_source/ref_count_win.hpp"

namespace korvex::media_source {

class ClassFactory final : public IClassFactory {
 public:
  static HRESULT create(Microsoft::WRL::ComPtr<ClassFactory>& out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  // IClassFactory: asked for IMFActivate (or IUnknown) it makes an activate
  // object, as the frame server wants; asked for a source interface, a
  // source straight away.
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  ClassFactory() = default;
  ~ClassFactory() = default;

  RefCount refs_;
};

}  // namespace korvex::media_source
