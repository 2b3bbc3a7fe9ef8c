/* A DLL planted beside a package under the name of a system DLL. When any
   process loads it, it leaves "<its own path>.loaded" beside itself, naming
   the process, and then lets the process go on as if nothing happened. */
#include <windows.h>

static void LeaveMarker(HINSTANCE self) {
  WCHAR path[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatW(path, L".loaded");
  const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  WCHAR process[MAX_PATH];
  const DWORD processLength = GetModuleFileNameW(NULL, process, MAX_PATH);
  char line[4 * MAX_PATH + 2];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, process, (int)processLength, line,
                                  sizeof line - 2, NULL, NULL);
  line[bytes++] = '\n';
  DWORD written;
  WriteFile(file, line, (DWORD)bytes, &written, NULL);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}
