#include <windows.h>
// windows.h must come first.
#include <mfapi.h>
#include <mfidl.h>
#include <objbase.h>
#include <wrl/client.h>

#include "camera/camera_device.hpp"
#include "camera/directshow_camera_win.hpp"
#include "camera/media_foundation_camera_win.hpp"
#include "decoder/media_foundation_win.hpp"
#include "platform/com_adopt_win.hpp"
#include "platform/hresult_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::camera {
namespace {

using Microsoft::WRL::ComPtr;

// A string attribute of the device, empty when it cannot be read.
std::string device_text(IMFActivate* device, const GUID& key) {
  WCHAR* text = nullptr;
  UINT32 length = 0;
  if (FAILED(device->GetAllocatedString(key, &text, &length)) || text == nullptr) {
    return {};
  }
  std::string utf8 = platform::utf16_to_utf8(text, static_cast<int>(length));
  CoTaskMemFree(text);
  return utf8;
}

}  // namespace

Result<std::vector<CameraInfo>> list_cameras() {
  if (auto started = decoder::ensure_media_foundation(); !started) {
    return Error{started.error()};
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // already initialised is fine

  ComPtr<IMFAttributes> attributes;
  KORVEX_FAIL_IF_FAILED("MFCreateAttributes", MFCreateAttributes(&attributes, 1));
  if (!attributes) {
    return fail("MFCreateAttributes returned nothing");
  }
  KORVEX_FAIL_IF_FAILED("SetGUID",
                        attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                                            MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID));
  IMFActivate** devices = nullptr;
  UINT32 count = 0;
  KORVEX_FAIL_IF_FAILED("MFEnumDeviceSources",
                        MFEnumDeviceSources(attributes.Get(), &devices, &count));
  std::vector<CameraInfo> cameras;
  for (UINT32 i = 0; i < count; ++i) {
    // The entry's reference becomes the camera's.
    ComPtr<IMFActivate> device = platform::adopt(devices[i]);
    if (!device) {
      continue;
    }
    CameraInfo camera;
    camera.name = device_text(device.Get(), MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME);
    camera.link =
        device_text(device.Get(), MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK);
    camera.activation = media_foundation_activation(std::move(device));
    cameras.push_back(std::move(camera));
  }
  CoTaskMemFree(devices);
  if (auto appended = append_directshow_cameras(cameras); !appended) {
    return Error{appended.error()};
  }
  return cameras;
}

}  // namespace korvex::camera
