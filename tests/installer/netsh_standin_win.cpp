// Stands in for Windows' netsh.exe, which Wine lacks, for the installer test:
// appends its arguments as one line to the file KORVEX_NETSH_LOG names and
// exits with the status KORVEX_NETSH_STATUS gives (0 without it).

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain() {
  // The command line less the program's own name, as netsh would parse it.
  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
    quoted = *line == L'"' ? !quoted : quoted;
    ++line;
  }
  while (*line == L' ' || *line == L'\t') {
    ++line;
  }
  wchar_t path[MAX_PATH];
  const DWORD path_length = GetEnvironmentVariableW(L"KORVEX_NETSH_LOG", path, MAX_PATH);
  if (path_length > 0 && path_length < MAX_PATH) {
    if (FILE* log = _wfopen(path, L"ab")) {
      const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
      std::string text(bytes > 0 ? bytes - 1 : 0, '\0');
      WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
      std::fprintf(log, "%s\n", text.c_str());
      std::fclose(log);
    }
  }
  wchar_t status[16];
  const DWORD status_length = GetEnvironmentVariableW(L"KORVEX_NETSH_STATUS", status, 16);
  if (status_length > 0 && status_length < 16) {
    return static_cast<int>(std::wcstol(status, nullptr, 10));
  }
  return 0;
}
