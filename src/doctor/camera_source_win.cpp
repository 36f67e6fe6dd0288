#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <wrl/client.h>

#include <fmt/format.h>

#include "camera/media_foundation_camera_win.hpp"
#include "camera/subtype.hpp"
#include "decoder/media_foundation_win.hpp"
#include "doctor/windows_probes_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::doctor {

Result<std::vector<std::string>> load_source_media_types(const CLSID& clsid) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the result does not matter
  if (auto started = decoder::ensure_media_foundation(); !started) {
    return fail(started.error());
  }
  Microsoft::WRL::ComPtr<IMFActivate> activate;
  KORVEX_FAIL_IF_FAILED("CoCreateInstance", CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                                             IID_PPV_ARGS(&activate)));
  auto reader = camera::media_foundation_activation(activate)->activate();
  if (!reader) {
    return fail(reader.error());
  }
  std::vector<std::string> types;
  for (uint32_t i = 0; auto type = reader.value()->native_type(i); ++i) {
    types.push_back(fmt::format("{} {}x{} @ {:.0f} fps", camera::subtype_name(type->subtype),
                                type->width, type->height, type->fps));
  }
  reader.value()->shutdown();
  activate->ShutdownObject();
  return types;
}

}  // namespace korvex::doctor
