/* A stand-in setup program for the launcher's end-to-end runs. It tells the
 * test what it received and then ends with the exit code it was asked for.
 *
 * Environment:
 *   SETUPPROG_REPORT    file to append the report to (UTF-8, one item a line)
 *   SETUPPROG_EXIT      exit code (decimal, default 0)
 *   SETUPPROG_SLEEP_MS  pause before the closing line, so a launcher that does
 *                       not wait for its setup program is caught
 *   SETUPPROG_RELAUNCH_MS  start a second instance of this very file, which
 *                       stays this many milliseconds, and end at once, as a
 *                       setup program does that goes on from a copy of its own
 *
 * Each start appends one block:
 *   start
 *   arch=x86|x64
 *   commandline=<GetCommandLineW>
 *   currentdirectory=<GetCurrentDirectoryW>
 *   module=<GetModuleFileNameW>
 *   temppath=<GetTempPathW>
 *   arg=<each argument after the program's name, as CommandLineToArgvW splits>
 *   end
 */
#include <windows.h>
#include <shellapi.h>

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
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; argv && i < count; ++i) WriteItem(report, "arg", argv[i]);
    if (argv) LocalFree(argv);
    Sleep(NumberFromEnvironment(L"SETUPPROG_SLEEP_MS", 0));
    WriteAscii(report, "end\n");
    CloseHandle(report);
  }
  DWORD relaunchMs = NumberFromEnvironment(L"SETUPPROG_RELAUNCH_MS", 0);
  if (relaunchMs) {
    /* After this start's report, so that the two never interleave: the
       second instance runs from the same file and only stays a while. */
    WCHAR self[MAX_PATH + 1];
    WCHAR stay[16];
    WCHAR* end = stay + 15;
    *end = 0;
    do {
      *--end = (WCHAR)(L'0' + relaunchMs % 10);
      relaunchMs /= 10;
    } while (relaunchMs && end > stay);
    self[0] = 0;
    GetModuleFileNameW(NULL, self, MAX_PATH + 1);
    SetEnvironmentVariableW(L"SETUPPROG_RELAUNCH_MS", NULL);
    SetEnvironmentVariableW(L"SETUPPROG_SLEEP_MS", end);
    STARTUPINFOW startup;
    PROCESS_INFORMATION started;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (CreateProcessW(self, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started)) {
      CloseHandle(started.hThread);
      CloseHandle(started.hProcess);
    }
  }
  return (int)NumberFromEnvironment(L"SETUPPROG_EXIT", 0);
}
