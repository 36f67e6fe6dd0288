#pragma once

// The IUnknown of the filter's small single-interface objects (its class
// factory and enumerators): one counted interface besides IUnknown, deleted
// with its last reference, keeping the DLL in use while it lives.

#include <windows.h>
// windows.h must come first.
#include <unknwn.h>
#include <wrl/client.h>

#include <new>
#include <utility>

#include "media_source/ref_count_win.hpp"

namespace korvex::capture_filter {

template <class Interface>
class ComObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) {
      return E_POINTER;
    }
    if (riid != __uuidof(IUnknown) && riid != __uuidof(Interface)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = refs_.remove();
    if (left == 0) {
      delete this;
    }
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  media_source::RefCount refs_;
};

// A new `Object` held by `out`; E_OUTOFMEMORY when it cannot be made.
template <class Object, class... Args>
HRESULT make_com_object(Microsoft::WRL::ComPtr<Object>& out, Args&&... args) {
  out = new (std::nothrow) Object(std::forward<Args>(args)...);
  return out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace korvex::capture_filter
