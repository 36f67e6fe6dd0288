#include "directshow/video_devices_win.hpp"

#include <oleauto.h>
#include <uuids.h>

#include "platform/hresult_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::directshow {
namespace {

using Microsoft::WRL::ComPtr;

std::string property_text(IPropertyBag& bag, const wchar_t* name) {
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (SUCCEEDED(bag.Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal) {
    text = platform::utf16_to_utf8(value.bstrVal);
  }
  VariantClear(&value);
  return text;
}

std::string display_name(IMoniker& moniker) {
  LPOLESTR name = nullptr;
  std::string text;
  if (SUCCEEDED(moniker.GetDisplayName(nullptr, nullptr, &name)) && name != nullptr) {
    text = platform::utf16_to_utf8(name);
    CoTaskMemFree(name);
  }
  return text;
}

}  // namespace

Result<std::vector<VideoDevice>> list_video_devices() {
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&devices));
  if (FAILED(hr)) {
    return platform::step_failure("CoCreateInstance(SystemDeviceEnum)", hr);
  }
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
  if (FAILED(hr)) {
    return platform::step_failure("CreateClassEnumerator", hr);
  }
  std::vector<VideoDevice> found;
  if (hr != S_OK || !monikers) {
    return found;  // S_FALSE: the category is empty, and there is no enumerator
  }
  for (;;) {
    ComPtr<IMoniker> moniker;
    if (monikers->Next(1, &moniker, nullptr) != S_OK || !moniker) {
      break;
    }
    VideoDevice device;
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
      device.name = property_text(*bag.Get(), L"FriendlyName");
      device.path = property_text(*bag.Get(), L"DevicePath");
    }
    device.has_device_path = !device.path.empty();
    if (!device.has_device_path) {
      device.path = display_name(*moniker.Get());
    }
    device.moniker = std::move(moniker);
    found.push_back(std::move(device));
  }
  return found;
}

HRESULT bind_filter(const VideoDevice& device, ComPtr<IBaseFilter>& filter) {
  return device.moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter));
}

}  // namespace korvex::directshow
