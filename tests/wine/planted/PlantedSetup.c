/* The setup program inside the test package. It proves that the launcher got
   all the way to starting it: it writes "<package path>.started", the package
   path being its first argument. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  WCHAR path[MAX_PATH + 16];
  if (lstrlenW(argv[1]) >= MAX_PATH) return 1;
  lstrcpyW(path, argv[1]);
  lstrcatW(path, L".started");
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(file);
  return 0;
}
