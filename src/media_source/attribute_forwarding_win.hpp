#pragma once

// IMFAttributes for an interface derived from it (IMFActivate), answered by
// an attribute store of Media Foundation's, which is itself thread-safe.

#include <windows.h>
// windows.h must come first.
#include <mfobjects.h>
#include <wrl/client.h>

namespace korvex::media_source {

template <class Interface>
class AttributeForwarding : public Interface {
 public:
  STDMETHODIMP GetItem(REFGUID key, PROPVARIANT* value) override {
    return store_->GetItem(key, value);
  }
  STDMETHODIMP GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override {
    return store_->GetItemType(key, type);
  }
  STDMETHODIMP CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override {
    return store_->CompareItem(key, value, result);
  }
  STDMETHODIMP Compare(IMFAttributes* other, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) override {
    return store_->Compare(other, type, result);
  }
  STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override {
    return store_->GetUINT32(key, value);
  }
  STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override {
    return store_->GetUINT64(key, value);
  }
  STDMETHODIMP GetDouble(REFGUID key, double* value) override {
    return store_->GetDouble(key, value);
  }
  STDMETHODIMP GetGUID(REFGUID key, GUID* value) override { return store_->GetGUID(key, value); }
  STDMETHODIMP GetStringLength(REFGUID key, UINT32* length) override {
    return store_->GetStringLength(key, length);
  }
  STDMETHODIMP GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override {
    return store_->GetString(key, value, size, length);
  }
  STDMETHODIMP GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
    return store_->GetAllocatedString(key, value, length);
  }
  STDMETHODIMP GetBlobSize(REFGUID key, UINT32* size) override {
    return store_->GetBlobSize(key, size);
  }
  STDMETHODIMP GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* blob_size) override {
    return store_->GetBlob(key, buffer, size, blob_size);
  }
  STDMETHODIMP GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override {
    return store_->GetAllocatedBlob(key, buffer, size);
  }
  STDMETHODIMP GetUnknown(REFGUID key, REFIID riid, void** object) override {
    return store_->GetUnknown(key, riid, object);
  }
  STDMETHODIMP SetItem(REFGUID key, REFPROPVARIANT value) override {
    return store_->SetItem(key, value);
  }
  STDMETHODIMP DeleteItem(REFGUID key) override { return store_->DeleteItem(key); }
  STDMETHODIMP DeleteAllItems() override { return store_->DeleteAllItems(); }
  STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override {
    return store_->SetUINT32(key, value);
  }
  STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override {
    return store_->SetUINT64(key, value);
  }
  STDMETHODIMP SetDouble(REFGUID key, double value) override {
    return store_->SetDouble(key, value);
  }
  STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override { return store_->SetGUID(key, value); }
  STDMETHODIMP SetString(REFGUID key, LPCWSTR value) override {
    return store_->SetString(key, value);
  }
  STDMETHODIMP SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override {
    return store_->SetBlob(key, buffer, size);
  }
  STDMETHODIMP SetUnknown(REFGUID key, IUnknown* object) override {
    return store_->SetUnknown(key, object);
  }
  STDMETHODIMP LockStore() override { return store_->LockStore(); }
  STDMETHODIMP UnlockStore() override { return store_->UnlockStore(); }
  STDMETHODIMP GetCount(UINT32* count) override { return store_->GetCount(count); }
  STDMETHODIMP GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override {
    return store_->GetItemByIndex(index, key, value);
  }
  STDMETHODIMP CopyAllItems(IMFAttributes* destination) override {
    return store_->CopyAllItems(destination);
  }

 protected:
  // Set once by the derived class's creator, before the object is shared.
  Microsoft::WRL::ComPtr<IMFAttributes> store_;
};

}  // namespace korvex::media_source
