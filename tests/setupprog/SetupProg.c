/* A stand-in setup program for the launcher's end-to-end runs. It tells the
 * test what it received and then ends with the exit code it was asked for.
 *
 * Environment:
 *   SETUPPROG_REPORT    file to append the report to (UTF-8, one item a line)
 *   SETUPPROG_EXIT      exit code (decimal, default 0)
 *   SETUPPROG_SLEEP_MS  pause before the closing line, so a launcher that does
 *                       not wait for its setup program is caught
 *
 * Each start appends one block:
 *   start
 *   arch=x86|x64
 *   commandline=<GetCommandLineW>
 *   currentdirectory=<GetCurrentDirectoryW>
 *   module=<GetModuleFileNameW>
 *   temppath=<GetTempPathW>
 *   end
 */
#include <windows.h>

#if defined(_WIN64)
#define SETUP_ARCH "x64"
#else
#define SETUP_ARCH "x86"
#endif

static HANDLE OpenReport(void) {
  WCHAR path[1024];
  DWORD n = GetEnvironmentVariableW(L"SETUPPROG_REPORT", path, 1024);
  if (n == 0 || n >= 1024) return INVALID_HANDLE_VALUE;
  /* Appending lets the test count starts: a second start adds a second block. */
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  return file;
}

static void WriteBytes(HANDLE file, const char* bytes, DWORD count) {
  DWORD written = 0;
  WriteFile(file, bytes, count, &written, NULL);
}

static void WriteAscii(HANDLE file, const char* text) {
  DWORD count = 0;
  while (text[count]) ++count;
  WriteBytes(file, text, count);
}

static void WriteWide(HANDLE file, const WCHAR* text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (bytes <= 1) return;
  char* buffer = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)bytes);
  if (!buffer) return;
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, bytes, NULL, NULL);
  WriteBytes(file, buffer, (DWORD)(bytes - 1));
  HeapFree(GetProcessHeap(), 0, buffer);
}

static void WriteItem(HANDLE file, const char* name, const WCHAR* value) {
  WriteAscii(file, name);
  WriteAscii(file, "=");
  WriteWide(file, value);
  WriteAscii(file, "\n");
}

static DWORD NumberFromEnvironment(const WCHAR* name, DWORD fallback) {
  WCHAR text[32];
  DWORD n = GetEnvironmentVariableW(name, text, 32);
  if (n == 0 || n >= 32) return fallback;
  DWORD value = 0;
  for (DWORD i = 0; i < n; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return fallback;
    value = value * 10 + (DWORD)(text[i] - L'0');
  }
  return value;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show) {
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
  HANDLE report = OpenReport();
  if (report != INVALID_HANDLE_VALUE) {
    WCHAR folder[MAX_PATH + 1];
    WCHAR module[MAX_PATH + 1];
    WCHAR temp[MAX_PATH + 1];
    folder[0] = 0;
    module[0] = 0;
    temp[0] = 0;
    GetCurrentDirectoryW(MAX_PATH + 1, folder);
    GetModuleFileNameW(NULL, module, MAX_PATH + 1);
    /* The launcher inherits the same environment, so this is its temporary
       folder too. */
    GetTempPathW(MAX_PATH + 1, temp);
    WriteAscii(report, "start\n");
    WriteAscii(report, "arch=" SETUP_ARCH "\n");
    WriteItem(report, "commandline", GetCommandLineW());
    WriteItem(report, "currentdirectory", folder);
    WriteItem(report, "module", module);
    WriteItem(report, "temppath", temp);
    Sleep(NumberFromEnvironment(L"SETUPPROG_SLEEP_MS", 0));
    WriteAscii(report, "end\n");
    CloseHandle(report);
  }
  return (int)NumberFromEnvironment(L"SETUPPROG_EXIT", 0);
}
