#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/system_text_win.hpp"
#include "platform/thread.hpp"
#include "platform/thread_end_win.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::platform {
namespace {

// Long enough for a thread that has returned to be gone, also on a loaded
// machine; a thread that never goes only delays the exit by this much.
constexpr ULONGLONG kSettleMs = 2000;

struct Ending {
  std::mutex lock;
  bool settling = false;              // guarded by lock
  std::vector<UniqueHandle> threads;  // guarded by lock; returned, maybe not yet gone
};

Ending& ending() {
  static Ending instance;
  return instance;
}

}  // namespace

void end_spawned_thread() {
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE,
                  FALSE, 0);
  UniqueHandle handle(self);
  std::unique_lock hold(ending().lock);
  if (ending().settling) {
    hold.unlock();
    for (;;) {
      Sleep(INFINITE);  // waiting is safe while the process ends; exiting is not
    }
  }
  // Threads that are gone leave the list, so it holds only those still exiting.
  std::erase_if(ending().threads, [](const UniqueHandle& thread) {
    return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
  });
  if (handle) {
    ending().threads.push_back(std::move(handle));
  }
}

void settle_spawned_threads() {
  std::vector<UniqueHandle> threads;
  {
    std::lock_guard hold(ending().lock);
    ending().settling = true;
    threads = std::move(ending().threads);
  }
  const ULONGLONG deadline = GetTickCount64() + kSettleMs;
  for (const UniqueHandle& thread : threads) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      return;
    }
    WaitForSingleObject(thread.get(), static_cast<DWORD>(deadline - now));
  }
}

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
