// Keeps a DLL loaded, as the camera service keeps KorvexSource.dll, for the
// installer's upgrade test: loads the DLL its argument names, says "loaded"
// on standard output, and holds it until standard input ends.

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hold-loaded DLL\n");
    return 2;
  }
  const HMODULE module = LoadLibraryW(argv[1]);
  if (module == nullptr) {
    std::fprintf(stderr, "LoadLibraryW failed: %lu\n", GetLastError());
    return 1;
  }
  std::printf("loaded\n");
  std::fflush(stdout);
  char buffer[64];
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
         read > 0) {
  }
  FreeLibrary(module);
  return 0;
}
