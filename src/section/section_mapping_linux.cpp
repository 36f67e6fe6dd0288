#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include <fmt/format.h>

#include "platform/os_error.hpp"
#include "platform/unique_fd.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"

namespace korvex::section {
namespace {

constexpr char kName[] = "/Korvex.Frames";

Error system_failure(const char* step) {
  return fail(fmt::format("{}: {}", step, platform::last_os_error_text()));
}

// The mapping outlives the descriptor, so the caller closes it right after.
Result<MappedSection> map_whole(const platform::UniqueFd& fd, int protection) {
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) {
    return system_failure("fstat");
  }
  // Mapping past the end of the object would fault on the first access. An
  // object of size 0 may also be one whose creator has not sized it yet; the
  // writer's next attempt will find it sized.
  if (static_cast<uint64_t>(status.st_size) < kSectionSize) {
    return fail(
        fmt::format("mmap: section object is {} bytes, needs {}", status.st_size, kSectionSize));
  }
  void* view = mmap(nullptr, kSectionSize, protection, MAP_SHARED, fd.get(), 0);
  if (view == MAP_FAILED) {
    return system_failure("mmap");
  }
  return MappedSection(static_cast<uint8_t*>(view), [](uint8_t* at) { munmap(at, kSectionSize); });
}

}  // namespace

std::string_view frame_section_name() {
  return kName;
}

namespace {

// Opens the object for `access` (O_RDONLY or O_RDWR), or creates and sizes
// it when none exists, and maps it with `protection`.
Result<MappedSection> open_or_create(int access, int protection, bool* creation_denied) {
  // Two rounds: another process may create the object between our failed
  // open and our exclusive create.
  for (int round = 0;; ++round) {
    platform::UniqueFd existing(shm_open(kName, access | O_CLOEXEC, 0));
    if (existing) {
      return map_whole(existing, protection);
    }
    if (errno != ENOENT) {
      return system_failure("shm_open");
    }
    // Every reader runs as the same user, so owner-only access is enough.
    platform::UniqueFd created(shm_open(kName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!created) {
      if (errno == EEXIST && round == 0) {
        continue;
      }
      if (creation_denied != nullptr && errno == EACCES) {
        *creation_denied = true;
      }
      return system_failure("shm_open");
    }
    if (ftruncate(created.get(), static_cast<off_t>(kSectionSize)) != 0) {
      Error error = system_failure("ftruncate");
      shm_unlink(kName);  // an unsized object would block every later attempt
      return error;
    }
    return map_whole(created, protection);
  }
}

}  // namespace

Result<MappedSection> open_or_create_frame_section(bool* creation_denied) {
  return open_or_create(O_RDWR, PROT_READ | PROT_WRITE, creation_denied);
}

std::string_view creation_denied_hint() {
  return "check that this user may write to /dev/shm";
}

Result<MappedSection> open_frame_section_for_camera() {
  return open_or_create(O_RDONLY, PROT_READ, nullptr);
}

Result<MappedSection> open_existing_frame_section() {
  platform::UniqueFd existing(shm_open(kName, O_RDONLY | O_CLOEXEC, 0));
  if (!existing) {
    return system_failure("shm_open");
  }
  return map_whole(existing, PROT_READ);
}

uint64_t activity_tick_now() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace korvex::section
