#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "platform/listening_processes.hpp"
#include "platform/os_error.hpp"
#include "platform/proc_net_tcp_linux.hpp"

namespace korvex::platform {
namespace {

Result<std::string> read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    return fail(fmt::format("{}: {}", path, os_error_text(errno)));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string program_name(const std::string& pid) {
  auto comm = read_file("/proc/" + pid + "/comm");
  if (!comm) {
    return {};
  }
  std::string name = std::move(comm.value());
  while (!name.empty() && name.back() == '\n') {
    name.pop_back();
  }
  return name;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// The socket inodes among `pid`'s descriptors. Another user's descriptors
// cannot be read: its sockets then stay unnamed.
std::vector<uint64_t> socket_inodes(const std::string& pid) {
  std::vector<uint64_t> inodes;
  const std::string folder = "/proc/" + pid + "/fd";
  Dir fds(opendir(folder.c_str()));
  if (!fds) {
    return inodes;
  }
  constexpr std::string_view kPrefix = "socket:[";
  while (const dirent* entry = readdir(fds.get())) {
    char target[64];
    const std::string link = folder + "/" + entry->d_name;
    const ssize_t length = readlink(link.c_str(), target, sizeof(target));
    const std::string_view text(target, length > 0 ? static_cast<size_t>(length) : 0);
    uint64_t inode = 0;
    if (text.starts_with(kPrefix) && text.ends_with(']') &&
        std::from_chars(text.data() + kPrefix.size(), text.data() + text.size() - 1, inode).ec ==
            std::errc()) {
      inodes.push_back(inode);
    }
  }
  return inodes;
}

}  // namespace

Result<std::vector<ListeningProcess>> tcp_listeners(uint16_t port) {
  std::vector<uint64_t> inodes;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    // A kernel without IPv6 has no tcp6 table; the IPv4 one is always there.
    auto text = read_file(table);
    if (!text) {
      if (std::string_view(table) == "/proc/net/tcp") {
        return fail(text.error());
      }
      continue;
    }
    for (uint64_t inode : listening_socket_inodes(text.value(), port)) {
      inodes.push_back(inode);
    }
  }

  std::vector<ListeningProcess> found;
  if (inodes.empty()) {
    return found;
  }
  Dir proc(opendir("/proc"));
  if (!proc) {
    return fail(fmt::format("/proc: {}", os_error_text(errno)));
  }
  std::vector<uint64_t> unnamed = inodes;
  while (const dirent* entry = readdir(proc.get())) {
    const std::string pid = entry->d_name;
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) {
      continue;
    }
    const std::vector<uint64_t> held = socket_inodes(pid);
    const size_t before = unnamed.size();
    std::erase_if(unnamed, [&held](uint64_t inode) {
      return std::find(held.begin(), held.end(), inode) != held.end();
    });
    if (unnamed.size() < before) {
      found.push_back({static_cast<uint32_t>(std::stoul(pid)), program_name(pid)});
    }
    if (unnamed.empty()) {
      break;
    }
  }
  if (!unnamed.empty()) {
    found.push_back({});
  }
  return found;
}

}  // namespace korvex::platform
