#include "platform/proc_net_tcp_linux.hpp"

#include <charconv>
#include <string>

namespace korvex::platform {
namespace {

// A row, after its header line:
//
//   sl  local_address  rem_address  st  tx:rx  tr:when  retrnsmt  uid  timeout  inode ...
//   0:  0100007F:B116  00000000:0000 0A ...
//
// local_address is the address in hex (8 digits, 32 for IPv6), a colon and
// the port in hex; st 0A is LISTEN.
constexpr std::string_view kListen = "0A";
constexpr size_t kLocalField = 1;
constexpr size_t kStateField = 3;
constexpr size_t kInodeField = 9;

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) {
      break;
    }
    const size_t end = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  return fields;
}

template <class T>
bool parse(std::string_view text, T& out, int base) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<uint64_t> listening_socket_inodes(std::string_view table, uint16_t port) {
  std::vector<uint64_t> inodes;
  size_t at = 0;
  while (at < table.size()) {
    const size_t end = std::min(table.find('\n', at), table.size());
    const std::vector<std::string_view> fields = fields_of(table.substr(at, end - at));
    at = end + 1;
    if (fields.size() <= kInodeField || fields[kStateField] != kListen) {
      continue;
    }
    const std::string_view local = fields[kLocalField];
    const size_t colon = local.rfind(':');
    uint16_t local_port = 0;
    uint64_t inode = 0;
    if (colon == std::string_view::npos || !parse(local.substr(colon + 1), local_port, 16) ||
        !parse(fields[kInodeField], inode, 10)) {
      continue;
    }
    if (local_port == port) {
      inodes.push_back(inode);
    }
  }
  return inodes;
}

}  // namespace korvex::platform
