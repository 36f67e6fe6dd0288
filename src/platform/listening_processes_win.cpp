#include <winsock2.h>
// winsock2.h must come before windows.h, which iphlpapi.h includes.
#include <iphlpapi.h>

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "platform/listening_processes.hpp"
#include "platform/os_error.hpp"
#include "platform/system_text_win.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::platform {
namespace {

// The pids listening on `port` in one address family's table: rows of
// MIB_TCPROW_OWNER_PID (AF_INET) or MIB_TCP6ROW_OWNER_PID (AF_INET6).
template <class Table>
Result<std::vector<uint32_t>> listener_pids(ULONG family, uint16_t port) {
  std::vector<unsigned char> buffer;
  DWORD size = 0;
  DWORD status = ERROR_INSUFFICIENT_BUFFER;
  // The table can grow between the sizing call and the next, hence a few tries.
  for (int attempt = 0; attempt < 3 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(std::max<DWORD>(size, sizeof(Table)));
    size = static_cast<DWORD>(buffer.size());
    status =
        GetExtendedTcpTable(buffer.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (status != NO_ERROR) {
    return fail("GetExtendedTcpTable: " + os_error_text(static_cast<int>(status)));
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  std::vector<uint32_t> pids;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    // The port is in network order in the low 16 bits.
    if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) {
      pids.push_back(table->table[i].dwOwningPid);
    }
  }
  return pids;
}

std::string program_name(uint32_t pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    return {};
  }
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &length)) {
    return {};
  }
  const std::wstring_view full(path, length);
  const size_t slash = full.find_last_of(L"\\/");
  const std::wstring_view file = slash == std::wstring_view::npos ? full : full.substr(slash + 1);
  return utf16_to_utf8(file.data(), static_cast<int>(file.size()));
}

}  // namespace

Result<std::vector<ListeningProcess>> tcp_listeners(uint16_t port) {
  auto v4 = listener_pids<MIB_TCPTABLE_OWNER_PID>(AF_INET, port);
  if (!v4) {
    return fail(v4.error());
  }
  std::vector<uint32_t> pids = std::move(v4.value());
  // Without IPv6 the second table fails; the first has said what there is.
  if (auto v6 = listener_pids<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, port)) {
    pids.insert(pids.end(), v6->begin(), v6->end());
  }
  std::vector<ListeningProcess> found;
  for (uint32_t pid : pids) {
    const bool listed = std::any_of(found.begin(), found.end(),
                                    [pid](const ListeningProcess& p) { return p.pid == pid; });
    if (!listed) {
      found.push_back({pid, pid == 0 ? std::string() : program_name(pid)});
    }
  }
  return found;
}

}  // namespace korvex::platform
