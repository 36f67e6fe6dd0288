#pragma once

// The activate object the class factory hands out: the frame server sets its
// attributes, then asks it for the source. It makes one source and gives out
// that same source until the source is shut down.

#include <windows.h>
// windows.h must come first.
#include <mfobjects.h>
#include <wrl/client.h>

#include "media_source/attribute_forwarding_win.hpp"
#include "media_source/media_source_win.hpp"
#include "media_source/ref_count_win.hpp"
#include "media_source/slim_lock_win.hpp"

namespace korvex::media_source {

class SourceActivate final : public AttributeForwarding<IMFActivate> {
 public:
  static HRESULT create(Microsoft::WRL::ComPtr<SourceActivate>& out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  // IMFActivate
  STDMETHODIMP ActivateObject(REFIID riid, void** object) override;
  STDMETHODIMP ShutdownObject() override;
  STDMETHODIMP DetachObject() override;

 private:
  SourceActivate() = default;
  ~SourceActivate() = default;

  RefCount refs_;
  SlimLock lock_;                               // guards source_
  Microsoft::WRL::ComPtr<MediaSource> source_;  // once activated
};

}  // namespace korvex::media_source
