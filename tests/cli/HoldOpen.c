// Test helper for pkgtool.exe under Wine (tests/cli/windows_test.sh): holds
// FILE open as a running program holds its image or a viewer its document
// (reading, and letting others only read), creates FLAG once it does, and
// lets go when FLAG is deleted.
//   holdopen.exe FILE FLAG
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE flag = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
  if (flag == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(flag);
  while (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) Sleep(50);
  CloseHandle(held);
  return 0;
}
