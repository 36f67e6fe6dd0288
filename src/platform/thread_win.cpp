#include <windows.h>

#include "platform/system_text_win.hpp"
#include "platform/thread.hpp"

namespace korvex::platform {

void set_current_thread_name(const std::string& name) {
  // SetThreadDescription exists from Windows 10 1607 on; look it up so that
  // older systems still run the program.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set_description = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set_description != nullptr) {
    set_description(GetCurrentThread(), utf8_to_utf16(name).c_str());
  }
}

void prioritise_current_thread() {
  // Above ordinary threads, below the audio engine's time-critical ones.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace korvex::platform
