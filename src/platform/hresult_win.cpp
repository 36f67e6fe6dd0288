#include "platform/hresult_win.hpp"

#include <oleauto.h>
#include <wrl/client.h>

#include <fmt/format.h>

#include "platform/debug_trace_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::platform {

std::string hresult_text(HRESULT hr) {
  std::string description;
  Microsoft::WRL::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text != nullptr) {
      description = trim_right(utf16_to_utf8(text, static_cast<int>(SysStringLen(text))));
      SysFreeString(text);
    }
  }
  if (description.empty()) {
    description = system_message(static_cast<DWORD>(hr));
  }
  const auto code = static_cast<uint32_t>(hr);
  if (description.empty()) {
    return fmt::format("0x{:08X}", code);
  }
  return fmt::format("{} (0x{:08X})", description, code);
}

std::string step_text(std::string_view step, HRESULT hr) {
  return fmt::format("{}: {}", step, hresult_text(hr));
}

HRESULT traced_failure(std::string_view step, HRESULT hr) {
  trace(step_text(step, hr));
  return hr;
}

}  // namespace korvex::platform
