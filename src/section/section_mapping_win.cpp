#include <windows.h>
// windows.h must come first.
#include <sddl.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/os_error.hpp"
#include "platform/unique_handle_win.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"

namespace korvex::section {
namespace {

constexpr wchar_t kName[] = L"Global\\Korvex.Frames";

// Authenticated Users, Local Service and Local System get full access, so a
// media source running as a service can open what a user's receiver created.
constexpr wchar_t kSddl[] = L"D:(A;;GA;;;AU)(A;;GA;;;LS)(A;;GA;;;SY)";

class LocalMemory {
 public:
  LocalMemory() = default;
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  ~LocalMemory() { LocalFree(memory_); }
  void** out() { return &memory_; }
  void* get() const { return memory_; }

 private:
  void* memory_ = nullptr;
};

Error system_failure(const char* step, DWORD code) {
  return fail(std::string(step) + ": " + platform::os_error_text(static_cast<int>(code)));
}

Result<platform::UniqueHandle> create_section(bool* creation_denied) {
  LocalMemory descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSddl, SDDL_REVISION_1,
                                                            descriptor.out(), nullptr)) {
    return system_failure("SDDL", GetLastError());
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(kSectionSize), kName);
  if (section == nullptr) {
    const DWORD error = GetLastError();
    // Creating a Global\ object takes SeCreateGlobalPrivilege, which a
    // standard user's process lacks.
    if (creation_denied != nullptr && error == ERROR_ACCESS_DENIED) {
      *creation_denied = true;
    }
    return system_failure("CreateFileMappingW", error);
  }
  return platform::UniqueHandle(section);
}

// A section object smaller than kSectionSize fails here.
Result<MappedSection> map_whole(platform::UniqueHandle section, DWORD access) {
  void* view = MapViewOfFile(section.get(), access, 0, 0, kSectionSize);
  if (view == nullptr) {
    return system_failure("MapViewOfFile", GetLastError());
  }
  // The deleter unmaps; the object closes when the deleter itself goes.
  auto object = std::make_shared<platform::UniqueHandle>(std::move(section));
  return MappedSection(static_cast<uint8_t*>(view), [object](uint8_t* at) { UnmapViewOfFile(at); });
}

// Opens the object for `access`, or creates it when none exists, and maps
// it with the same access.
Result<MappedSection> open_or_create(DWORD access, bool* creation_denied) {
  platform::UniqueHandle opened(OpenFileMappingW(access, FALSE, kName));
  if (opened) {
    return map_whole(std::move(opened), access);
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND) {
    return system_failure("OpenFileMappingW", error);
  }
  Result<platform::UniqueHandle> created = create_section(creation_denied);
  if (!created) {
    return Error{created.error()};
  }
  return map_whole(std::move(created.value()), access);
}

}  // namespace

std::string_view frame_section_name() {
  return "Global\\Korvex.Frames";
}

Result<MappedSection> open_or_create_frame_section(bool* creation_denied) {
  return open_or_create(FILE_MAP_ALL_ACCESS, creation_denied);
}

std::string_view creation_denied_hint() {
  // What happens next, not a call to elevate: the camera holds the section
  // from the moment an application opens it, and the receiver, trying every
  // 500 ms, maps it then.
  return "the camera creates it when an application opens it";
}

Result<MappedSection> open_frame_section_for_camera() {
  return open_or_create(FILE_MAP_READ, nullptr);
}

Result<MappedSection> open_existing_frame_section() {
  platform::UniqueHandle section(OpenFileMappingW(FILE_MAP_READ, FALSE, kName));
  if (!section) {
    return system_failure("OpenFileMappingW", GetLastError());
  }
  return map_whole(std::move(section), FILE_MAP_READ);
}

uint64_t activity_tick_now() {
  return GetTickCount64();
}

}  // namespace korvex::section
