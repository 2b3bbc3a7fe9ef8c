#include <windows.h>

#include "platform/memory/Utf8.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/Process.h"

namespace pkgtool {

namespace {

// Closes a handle when the scope ends, whatever way it ends.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};

[[noreturn]] void Fail(const char* what) {
  throw ToolError(std::string("cannot run the command: ") + what + " failed (error " +
                      std::to_string(::GetLastError()) + ")",
                  kExitSystemError);
}

}  // namespace

CommandResult RunShellCommand(const std::string& commandLine) {
  // cmd.exe from the system folder, never one that the current folder or
  // the PATH offers.
  wchar_t system[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) Fail("GetSystemDirectoryW");
  const std::wstring shell = std::wstring(system, length) + L"\\cmd.exe";
  const std::u16string text = stub::FromUtf8(commandLine);
  // /s: cmd takes what lies between the outer quotes as it is.
  std::wstring line = L"\"" + shell + L"\" /d /s /c \"" + std::wstring(text.begin(), text.end()) + L"\"";

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle readEnd, writeEnd, nul;
  if (!::CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) Fail("CreatePipe");
  ::SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
  nul.h = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                        OPEN_EXISTING, 0, nullptr);
  if (nul.h == INVALID_HANDLE_VALUE) Fail("opening NUL");

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.h;
  startup.hStdOutput = writeEnd.h;
  startup.hStdError = writeEnd.h;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
    Fail("CreateProcessW");
  }
  Handle processHandle{process.hProcess}, threadHandle{process.hThread};
  // The child holds its own copy; ours must go for the pipe to end.
  ::CloseHandle(writeEnd.h);
  writeEnd.h = nullptr;
  CommandResult result;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(readEnd.h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.output.append(buffer, got);
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.hProcess, &code)) Fail("GetExitCodeProcess");
  result.exitCode = static_cast<int>(code);
  return result;
}

std::string ShellQuoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace pkgtool
